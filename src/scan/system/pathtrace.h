#pragma once

#include "scan/system/systemfiles.h"

#include <QString>

#include <vector>

namespace orvantis {

// What a path leads through now: for each of its parts, the entry it names (a link itself, and
// where it leads), and the entry the whole path leads to, and the one above its last part, links
// followed. Two traces of a path are equal when it leads through the same entries to the same
// folder: a link on the way retargeted, a folder on the way replaced by another of its name, or a
// file system mounted or unmounted on it makes them differ.
class PathTrace {
public:
    PathTrace() = default;
    static PathTrace of(const QString &path);

    bool operator==(const PathTrace &other) const { return steps_ == other.steps_; }
    bool operator!=(const PathTrace &other) const { return !(*this == other); }

private:
    struct Step {
        int error = 0; // why the entry could not be told (ENOENT when there is none)
        EntryIdentity identity;
        QString linkTarget;
        bool operator==(const Step &other) const {
            return error == other.error && identity == other.identity &&
                   linkTarget == other.linkTarget;
        }
    };
    static Step stepOf(const QString &path, bool followLinks);
    std::vector<Step> steps_;
};

} // namespace orvantis
