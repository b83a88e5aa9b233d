// The capabilities element announced to every NDI receiver: PTZ support and the web page.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/log.h"
#include "media/network_send.h"
#include "platform/device_path.h"

int network_send::build_capabilities_xml(bool ptz_supported, std::string& out) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        out.clear();
        logAt(2, "Cannot open UDP socket!\n");
        return -1;
    }
    ifreq request{};
    request.ifr_addr.sa_family = AF_INET;
    std::strncpy(request.ifr_name, platform::interfaceName().c_str(), IFNAMSIZ - 1);
    // Without an IPv4 address the page is announced at 0.0.0.0 rather than at stale bytes.
    char address[INET_ADDRSTRLEN] = "0.0.0.0";
    if (ioctl(fd, SIOCGIFADDR, &request) == 0) {
        sockaddr_in inet{};
        std::memcpy(&inet, &request.ifr_addr, sizeof inet);
        inet_ntop(AF_INET, &inet.sin_addr, address, sizeof address);
    }
    close(fd);

    out = std::string("<ndi_capabilities ntk_ptz=\"") + (ptz_supported ? "true" : "false") +
          "\" web_control=\"http://" + address + "\"/>";
    logAt(4, "%s\n", out.c_str());
    return 0;
}
