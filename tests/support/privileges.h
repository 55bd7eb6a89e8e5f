#pragma once

#include <grp.h>
#include <unistd.h>

// Makes this process one that file permissions apply to: nobody (65534), when it runs as root.
// For a child process only; false when it could not.
inline bool dropPrivileges() {
    if (::geteuid() != 0)
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}
