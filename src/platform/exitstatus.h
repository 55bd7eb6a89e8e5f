#pragma once

namespace orvantis {

// How the programs end, for scripts and service managers.
enum ExitStatus : int {
    kExitSuccess = 0,
    // The program folder holds no entry named exactly "accounts".
    kExitNoAccountsFolder = 1,
    // orvantis-rank was called with arguments it does not take.
    kExitUsage = 2,
    // The entry named "accounts" is no folder: a plain file, or a link that leads nowhere.
    kExitAccountsNotAFolder = 3,
    // The accounts folder holds no account files.
    kExitNoAccountFiles = 4,
    // Some account files were left out of the ranking: they exist but could not be read, or hold
    // a level out of range. The ranking lacks their accounts.
    kExitFilesLeftOut = 5,
    // orvantis-serve cannot listen on the address it is given: in use, not this host's, or a
    // port it has no right to.
    kExitUnavailable = 69, // EX_UNAVAILABLE
    // An error the program could not recover from, such as an accounts folder it may not read,
    // or too little memory, too few threads or file descriptors to read it: the "internal
    // software error" of the BSD exit codes.
    kExitUnhandledError = 70, // EX_SOFTWARE
    // orvantis-rank could not write its output (a full disk, a closed file).
    kExitWriteError = 74, // EX_IOERR, the same on every system
    // orvantis-serve: a file of its configuration (a TLS certificate or key) is missing,
    // unreadable or wrong.
    kExitConfiguration = 78, // EX_CONFIG
};

} // namespace orvantis
