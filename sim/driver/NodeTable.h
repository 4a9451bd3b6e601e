// The stand-in's inside: attached nodes, the descriptors open on them, and
// the driver-request checks. The C library overrides (Intercept.cpp) ask it
// whether a path or descriptor is simulated before passing a call on.
#pragma once

namespace simdrv {

// Each returns true when the call concerned a simulated node and was handled
// (its result in `result`, errno set on failure); false means "pass it on".
bool OpenNode(const char* path, int flags, int& result);
bool CloseNode(int fd, int& result);
bool RequestNode(int fd, unsigned long request, void* argument, int& result);
// fcntl(fd, F_DUPFD or F_DUPFD_CLOEXEC, minFd): the copy of a simulated
// descriptor reaches the same open of the node.
bool CopyNode(int fd, int cmd, int minFd, int& result);
// The C library has just handed out `fd` for something else, so a simulated
// descriptor of that number was closed some way the stand-in did not see
// (close_range, dup2 onto it): it is dropped, and the number passes through.
void ForgetDescriptor(int fd);

// The descriptor behind a simulated open, its copies and its close;
// provided by Intercept.cpp because they must bypass the overrides.
int NewDescriptor(int flags);
int CopyDescriptor(int fd, int cmd, int minFd);
int CloseDescriptor(int fd);

} // namespace simdrv
