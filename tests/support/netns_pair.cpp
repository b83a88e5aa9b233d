#include "support/netns_pair.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "support/child_process.h"

NetnsPair::NetnsPair() {
    const std::string id = std::to_string(getpid());
    camera = "ptzcam" + id;
    controller = "ptzctl" + id;
    const std::string controllerLink = "ptzv" + id, cameraLink = "ptzw" + id;
    remove();  // a crashed run with the same pid leaves these behind
    const bool built = ip({"netns", "add", camera}) && ip({"netns", "add", controller}) &&
                       ip({"link", "add", cameraLink, "type", "veth", "peer", "name", controllerLink}) &&
                       ip({"link", "set", cameraLink, "netns", camera}) &&
                       ip({"link", "set", controllerLink, "netns", controller}) &&
                       ip({"-n", camera, "link", "set", cameraLink, "name", "eth0"}) &&
                       ip({"-n", camera, "link", "set", "eth0", "address", "02:50:54:5a:0c:4d"}) &&
                       ip({"-n", camera, "addr", "add", cameraIp + "/16", "dev", "eth0"}) &&
                       ip({"-n", controller, "addr", "add", "10.77.9.1/16", "dev", controllerLink}) &&
                       ip({"-n", camera, "link", "set", "eth0", "up"}) && ip({"-n", camera, "link", "set", "lo", "up"}) &&
                       ip({"-n", controller, "link", "set", controllerLink, "up"}) &&
                       ip({"-n", controller, "link", "set", "lo", "up"});
    if (!built) remove();
}

NetnsPair::~NetnsPair() { remove(); }

bool NetnsPair::ip(const std::vector<std::string>& args) {
    const ProcessResult result = runProcess(kIp, args);
    if (result.status == 0) return true;
    if (error.empty()) {
        error = "ip";
        for (const auto& a : args) error += " " + a;
        error += ": " + result.err;
    }
    return false;
}

void NetnsPair::remove() {
    // Deleting a namespace deletes the veth end in it, and with it the peer.
    for (const auto& ns : {camera, controller}) runProcess(kIp, {"netns", "del", ns});
}

bool NetnsPair::inside(const std::string& ns, const std::function<void()>& work) {
    bool entered = false;
    std::thread([&] {
        const int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) close(fd);
        if (entered) work();
    }).join();
    return entered;
}

std::unique_ptr<UdpEndpoint> NetnsPair::udpEndpoint(const std::string& ns, uint16_t port, uint32_t hostOrderAddress) {
    std::unique_ptr<UdpEndpoint> endpoint;
    inside(ns, [&] { endpoint = std::make_unique<UdpEndpoint>(port, hostOrderAddress); });
    return endpoint;
}
