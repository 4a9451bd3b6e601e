// The boards' device nodes as they come and go, from the kernel's uevents
// (a listener of its own beside the plug-in's monitor). When the plug-in
// could not query a board, the runner opens its node itself to learn whether
// the reason was a lack of permission, and says how to grant it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

class NodeWatch {
public:
    NodeWatch() = default;
    NodeWatch(const NodeWatch&) = delete;
    NodeWatch& operator=(const NodeWatch&) = delete;

    // Starts listening; false (with the reason in `error`) when no uevent
    // socket can be had. Never stopped: the watch lives as long as the
    // process.
    bool Start(std::string& error);

    // The node that arrived last, within `recent`, and is still there;
    // empty when there is none.
    std::string NewestNode(std::chrono::milliseconds recent);

private:
    void Listen();

    int m_nSocket = -1;
    std::thread m_thread;
    std::mutex m_lock;
    std::string m_newest;
    std::chrono::steady_clock::time_point m_arrived;
};

// Opens the node read-write, as the transport does, and closes it again.
// True when that was refused for lack of permission (EACCES or EPERM), with
// the system's text in `reason`.
bool RefusedForPermission(const std::string& node, std::string& reason);
