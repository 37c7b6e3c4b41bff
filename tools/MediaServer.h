// mysearchcriteria serve: a UPnP MediaServer:1 device over the host layer, so that real control
// points (a TV, a phone app) search the library through the same calls as the command line.
#ifndef MSC_TOOLS_MEDIA_SERVER_H
#define MSC_TOOLS_MEDIA_SERVER_H

#include <string>

#include "HostSearch.h"

namespace msc_host {

struct ServeOptions {
    std::string address = "127.0.0.1";  // The IPv4 address of the interface served on.
    unsigned short port = 0;             // 0: any free port.
    bool announce = false;               // SSDP announcements; the front-end turns them on off loopback.
    std::string name = "mysearchcriteria";  // The device's friendly name.
    std::string database;                // OpenDatabase's target; empty: the sample library.
};

// Whether 'address' is an IPv4 loopback address (127.0.0.0/8).
bool IsLoopbackAddress(const std::string &address);

// Serves until SIGINT or SIGTERM. The first line on standard output is the description URL.
// Search and Browse run with 'host' and 'select' (table, id and parent columns, default order);
// the objects' metadata comes from the columns 'host' maps properties to. Returns the exit status.
int ServeMediaServer(const ServeOptions &serve, const HostOptions &host, const SelectQuery &select);

}  // namespace msc_host

#endif  // MSC_TOOLS_MEDIA_SERVER_H
