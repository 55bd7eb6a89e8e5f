#include "start/accountscheck.h"

#include "platform/exitstatus.h"
#include "scan/reading/accountsfolder.h"
#include "start/complaint.h"

#include <cstdio>

namespace orvantis {

std::optional<int> checkAccountsFolder(const char *program, const QString &programFolder) {
    const AccountsFolderSearch search = findAccountsFolder(programFolder);
    if (search.failure) {
        complain(program, search.failure->text);
        return kExitUnhandledError;
    }
    if (!search.found) {
        std::fputs("Accounts folder not found!\n", stderr);
        complain(program, whereNoAccountsFolderIs(programFolder));
        return kExitNoAccountsFolder;
    }
    return std::nullopt;
}

} // namespace orvantis
