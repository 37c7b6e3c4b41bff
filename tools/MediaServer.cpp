// The media server on GUPnP: GUPnP and libsoup do SSDP, HTTP, SOAP and its faults; this file
// maps the ContentDirectory and ConnectionManager actions onto the host layer and writes
// DIDL-Lite with pugixml. Nothing here formats a protocol or escapes XML.
//
// GUPnP runs every action on its main loop. Search and Browse go to a pool of worker threads,
// each with its own database connection, and come back to the main loop with their answer, so
// that one slow query holds up no other request.
#include "MediaServer.h"

#include <glib-unix.h>
#include <libgupnp/gupnp.h>
#include <libsoup/soup.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "HostDatabase.h"
#include "HostRequest.h"

extern const char *const kContentDirectoryScpd;
extern const char *const kConnectionManagerScpd;

namespace msc_host {

bool IsLoopbackAddress(const std::string &address) { return address.rfind("127.", 0) == 0; }

namespace {

const char kContentDirectoryType[] = "urn:schemas-upnp-org:service:ContentDirectory:1";
const char kConnectionManagerType[] = "urn:schemas-upnp-org:service:ConnectionManager:1";
const char kContentDirectoryId[] = "urn:upnp-org:serviceId:ContentDirectory";
const char kConnectionManagerId[] = "urn:upnp-org:serviceId:ConnectionManager";

// The largest request body read: a 1 MiB criteria still reaches the library, which refuses or
// answers it; a larger body is refused with 413 before it is read.
const goffset kMaxRequestBytes = 2 << 20;
// Worker threads, each with its own database connection: as many requests run at once.
const size_t kWorkers = 32;
// Requests waiting for a worker, and the bytes of their texts; past either a request fails at
// once with 501 rather than queue without bound (1,024 requests of 1 MiB would be a gigabyte).
const size_t kMaxWaiting = 1024;
const size_t kMaxWaitingBytes = 64 << 20;

// The media formats of the files the libraries name, by file name extension; the first one a
// URL ends with gives its protocolInfo.
const std::pair<const char *, const char *> kMimeTypes[] = {
    {".mp3", "audio/mpeg"},  {".flac", "audio/flac"},       {".m4a", "audio/mp4"}, {".ogg", "audio/ogg"},
    {".wav", "audio/wav"},   {".mkv", "video/x-matroska"}, {".mp4", "video/mp4"}, {".avi", "video/x-msvideo"},
    {".jpg", "image/jpeg"},  {".jpeg", "image/jpeg"},      {".png", "image/png"},
};

std::string ProtocolInfo(const char *mime) { return std::string("http-get:*:") + mime + ":*"; }

std::string MimeTypeOf(const std::string &url) {
    for (const auto &entry : kMimeTypes) {
        size_t length = strlen(entry.first);
        if (url.size() >= length && url.compare(url.size() - length, length, entry.first) == 0) return entry.second;
    }
    return "application/octet-stream";
}

// --- DIDL-Lite -----------------------------------------------------------------------------------

// A property the DIDL-Lite of an object carries, and the column that holds it. The attributes
// of res ("res@size") follow res, which carries them.
struct DidlField {
    const char *name;      // Element name, or res@ and the attribute's name.
    int property;          // Its id; 0 for the host's own ones, found by their name.
};
const DidlField kDidlFields[] = {
    {"dc:title", PROP_DC_TITLE},
    {"upnp:class", PROP_UPNP_CLASS},
    {"dc:creator", PROP_DC_CREATOR},
    {"upnp:album", PROP_UPNP_ALBUM},
    {"upnp:artist", PROP_UPNP_ARTIST},
    {"upnp:genre", PROP_UPNP_GENRE},
    {"dc:date", PROP_DC_DATE},
    {"upnp:originalTrackNumber", PROP_UPNP_ORIGINAL_TRACK_NUMBER},
    {"upnp:albumArtURI", 0},
    {"res", PROP_RES},
    {"res@protocolInfo", 0},
    {"res@duration", 0},
    {"res@size", 0},
    {"res@bitrate", 0},
    {"res@resolution", 0},
};

// Which columns of a row are which: the id and parent columns first, then one per field that has
// a column in the host's map (-1 where it has none).
struct DidlLayout {
    std::string show;
    std::vector<int> fieldColumn;  // Per kDidlFields entry.
};

bool MakeLayout(const HostOptions &host, const SelectQuery &select, DidlLayout *layout, std::string *error) {
    layout->show = select.idColumn + ", " + select.parentColumn;
    int next = 2;
    for (const DidlField &field : kDidlFields) {
        int id = field.property != 0 ? field.property : PropertyId(field.name, &host.hostProperties);
        const std::string *column = id != 0 ? host.columns.Find(id) : nullptr;
        layout->fieldColumn.push_back(column != nullptr ? next++ : -1);
        if (column != nullptr) layout->show += ", " + *column;
    }
    if (layout->fieldColumn[0] < 0 || layout->fieldColumn[1] < 0) {
        *error = "the column map has no column for dc:title or upnp:class, which every object needs";
        return false;
    }
    return true;
}

// The Filter argument: "*" for everything, else the property names wanted besides the ones every
// object carries (id, parentID, restricted, dc:title, upnp:class).
class Filter {
public:
    explicit Filter(const std::string &text) {
        std::string item;
        std::istringstream items(text);
        while (std::getline(items, item, ',')) {
            item.erase(0, item.find_first_not_of(" \t"));
            item.erase(item.find_last_not_of(" \t") + 1);
            if (item == "*") all_ = true;
            names_.push_back(item);
        }
    }
    bool Wants(const std::string &name) const {
        if (all_ || name == "dc:title" || name == "upnp:class") return true;
        if (std::find(names_.begin(), names_.end(), name) != names_.end()) return true;
        // Any attribute of res asks for res itself.
        return name == "res" && std::any_of(names_.begin(), names_.end(),
                                            [](const std::string &n) { return n.rfind("res@", 0) == 0; });
    }

private:
    bool all_ = false;
    std::vector<std::string> names_;
};

std::string WriteDidl(const ResultTable &rows, const DidlLayout &layout, const Filter &filter) {
    pugi::xml_document document;
    pugi::xml_node didl = document.append_child("DIDL-Lite");
    didl.append_attribute("xmlns") = "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/";
    didl.append_attribute("xmlns:dc") = "http://purl.org/dc/elements/1.1/";
    didl.append_attribute("xmlns:upnp") = "urn:schemas-upnp-org:metadata-1-0/upnp/";
    for (const auto &row : rows.rows) {
        auto value = [&](size_t field) -> const std::string * {
            int column = layout.fieldColumn[field];
            return column >= 0 && !row[static_cast<size_t>(column)].empty() ? &row[static_cast<size_t>(column)] : nullptr;
        };
        const std::string *upnpClass = value(1);
        bool container = upnpClass != nullptr && upnpClass->rfind("object.container", 0) == 0;
        pugi::xml_node object = didl.append_child(container ? "container" : "item");
        object.append_attribute("id") = row[0].c_str();
        object.append_attribute("parentID") = row[1].c_str();
        object.append_attribute("restricted") = "1";
        if (container) object.append_attribute("searchable") = "1";
        pugi::xml_node res;
        for (size_t field = 0; field < layout.fieldColumn.size(); ++field) {
            const char *name = kDidlFields[field].name;
            const std::string *text = value(field);
            if (text == nullptr) continue;
            if (kDidlFields[field].property == PROP_RES) {
                if (!filter.Wants("res")) continue;
                // protocolInfo is the one attribute res must have: the column's, or one from the URL.
                res = object.append_child("res");
                res.append_attribute("protocolInfo") = ProtocolInfo(MimeTypeOf(*text).c_str()).c_str();
                res.text() = text->c_str();
            } else if (strncmp(name, "res@", 4) == 0) {
                if (!res) continue;
                if (strcmp(name, "res@protocolInfo") == 0) {
                    res.attribute("protocolInfo") = text->c_str();
                } else if (filter.Wants(name)) {
                    res.append_attribute(name + 4) = text->c_str();
                }
            } else if (filter.Wants(name)) {
                object.append_child(name).text() = text->c_str();
            }
        }
    }
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    return text.str();
}

// --- Requests and workers ------------------------------------------------------------------------

// A Search or Browse on its way: read on the main loop, answered on a worker, returned on the
// main loop.
struct PendingAction {
    GUPnPServiceAction *action;
    ObjectRequest request;
    std::string filter;
    UpnpFault fault;
    std::string result;
    long long returned = 0;
    long long total = 0;
};

// The answer goes back to the client from the main loop, the only thread that may touch GUPnP.
gboolean ReturnAction(gpointer data) {
    std::unique_ptr<PendingAction> pending(static_cast<PendingAction *>(data));
    if (pending->fault.code != 0) {
        gupnp_service_action_return_error(pending->action, static_cast<guint>(pending->fault.code),
                                          pending->fault.description.c_str());
        return G_SOURCE_REMOVE;
    }
    std::string returned = std::to_string(pending->returned);
    std::string total = std::to_string(pending->total);
    gupnp_service_action_set(pending->action, "Result", G_TYPE_STRING, pending->result.c_str(), "NumberReturned",
                             G_TYPE_STRING, returned.c_str(), "TotalMatches", G_TYPE_STRING, total.c_str(),
                             "UpdateID", G_TYPE_STRING, "1", nullptr);
    gupnp_service_action_return_success(pending->action);
    return G_SOURCE_REMOVE;
}

// A fixed set of threads, each with its own copy of the options (a TokenTable is not safe to
// share) and its own database connection, opened on its first request.
class WorkerPool {
public:
    WorkerPool(const HostOptions &options, const SelectQuery &select, const DidlLayout &layout,
               const std::string &target, GMainContext *loop)
        : options_(options), select_(select), layout_(layout), target_(target), loop_(loop) {
        for (size_t i = 0; i < kWorkers; ++i) threads_.emplace_back([this] { Work(); });
    }
    ~WorkerPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread &thread : threads_) thread.join();
    }

    // False when too many requests wait already.
    bool Push(std::unique_ptr<PendingAction> pending) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_t bytes = Bytes(*pending);
            if (waiting_.size() >= kMaxWaiting || waitingBytes_ + bytes > kMaxWaitingBytes) return false;
            waitingBytes_ += bytes;
            waiting_.push_back(std::move(pending));
        }
        wake_.notify_one();
        return true;
    }

private:
    static size_t Bytes(const PendingAction &pending) {
        return pending.request.criteria.size() + pending.request.sort.size() + pending.request.objectId.size() +
               pending.filter.size();
    }

    void Work() {
        HostOptions options = options_;
        std::unique_ptr<HostDatabase> database;
        for (;;) {
            std::unique_ptr<PendingAction> pending;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                // Requests still waiting at the stop are answered too: none is left hanging.
                if (waiting_.empty()) return;
                pending = std::move(waiting_.front());
                waiting_.pop_front();
                waitingBytes_ -= Bytes(*pending);
            }
            Answer(&options, &database, pending.get());
            g_main_context_invoke(loop_, ReturnAction, pending.release());
        }
    }

    void Answer(HostOptions *options, std::unique_ptr<HostDatabase> *database, PendingAction *pending) {
        std::string error;
        if (*database == nullptr) *database = OpenDatabase(target_, &error);
        if (*database == nullptr) {
            pending->fault = {kUpnpActionFailed, "cannot open the database: " + error};
            return;
        }
        ObjectPage page;
        auto start = std::chrono::steady_clock::now();
        bool answered = AnswerObjectRequest(pending->request, *options, select_, database->get(), &page, &pending->fault);
        if (answered) pending->result = WriteDidl(page.rows, layout_, Filter(pending->filter));
        std::lock_guard<std::mutex> lock(mutex_);
        ++times_.requests;
        times_.total += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
        times_.library += page.libraryNanoseconds;
        times_.database += page.databaseNanoseconds;
        if (!answered) return;
        pending->returned = static_cast<long long>(page.rows.rows.size());
        pending->total = page.total;
    }

public:
    // Where the workers' time went, for the line the server prints when it stops.
    struct Times {
        long long requests = 0;
        long long total = 0;
        long long library = 0;
        long long database = 0;
    };
    Times Spent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }

private:
    const HostOptions options_;
    const SelectQuery select_;
    const DidlLayout layout_;
    Times times_;
    const std::string target_;
    GMainContext *const loop_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<PendingAction>> waiting_;
    size_t waitingBytes_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// --- Actions -------------------------------------------------------------------------------------

// The text of argument 'name'; false when the request lacks it.
bool Argument(GUPnPServiceAction *action, const char *name, std::string *value) {
    GValue text = G_VALUE_INIT;
    g_value_init(&text, G_TYPE_STRING);
    gupnp_service_action_get_value(action, name, &text);
    const char *found = g_value_get_string(&text);
    if (found != nullptr) *value = found;
    g_value_unset(&text);
    return found != nullptr;
}

// A ui4 argument: decimal digits, at most 4294967295.
bool Number(GUPnPServiceAction *action, const char *name, long long *value) {
    std::string text;
    if (!Argument(action, name, &text) || text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::stoll(text);
    return *value <= 4294967295LL;
}

void Fail(GUPnPServiceAction *action, const UpnpFault &fault) {
    gupnp_service_action_return_error(action, static_cast<guint>(fault.code), fault.description.c_str());
}

class Server {
public:
    Server(const ServeOptions &serve, const HostOptions &host, const SelectQuery &select)
        : serve_(serve), host_(host), select_(select) {}

    bool Prepare(std::string *error) {
        if (!MakeLayout(host_, select_, &layout_, error)) return false;
        select_.show = layout_.show;
        if (select_.order.empty()) select_.order = select_.idColumn;
        // The library's texts: exactly what the options can answer.
        searchCaps_ = SearchCapabilities(host_);
        sortCaps_ = SortCapabilities(host_);
        // One connection now, so that a wrong target fails at start-up rather than on a request.
        return OpenDatabase(serve_.database, error) != nullptr;
    }

    void Start(GMainContext *loop) {
        workers_ = std::make_unique<WorkerPool>(host_, select_, layout_, serve_.database, loop);
    }
    // Answers what is still waiting, stops the threads and says where their time went.
    void Stop() {
        WorkerPool::Times spent = workers_->Spent();
        workers_.reset();
        auto ms = [](long long ns) { return static_cast<double>(ns) / 1e6; };
        fprintf(stderr,
                "mysearchcriteria: serve: %lld Search and Browse requests in %.1f ms of worker time: %.1f ms in the "
                "library's calls, %.1f ms in the database, the rest writing DIDL-Lite\n",
                spent.requests, ms(spent.total), ms(spent.library), ms(spent.database));
    }

    std::string Description() const {
        pugi::xml_document document;
        pugi::xml_node root = document.append_child("root");
        root.append_attribute("xmlns") = "urn:schemas-upnp-org:device-1-0";
        pugi::xml_node version = root.append_child("specVersion");
        version.append_child("major").text() = "1";
        version.append_child("minor").text() = "0";
        pugi::xml_node device = root.append_child("device");
        device.append_child("deviceType").text() = "urn:schemas-upnp-org:device:MediaServer:1";
        device.append_child("friendlyName").text() = serve_.name.c_str();
        device.append_child("manufacturer").text() = "libmysearchcriteria";
        device.append_child("modelName").text() = "mysearchcriteria serve";
        // A fresh UUID: every run is a new device to control points.
        gchar *uuid = g_uuid_string_random();
        device.append_child("UDN").text() = (std::string("uuid:") + uuid).c_str();
        g_free(uuid);
        pugi::xml_node services = device.append_child("serviceList");
        auto add = [&](const char *type, const char *id, const char *name) {
            pugi::xml_node service = services.append_child("service");
            service.append_child("serviceType").text() = type;
            service.append_child("serviceId").text() = id;
            service.append_child("SCPDURL").text() = (std::string("/") + name + "1.xml").c_str();
            service.append_child("controlURL").text() = (std::string("/control/") + name).c_str();
            service.append_child("eventSubURL").text() = (std::string("/event/") + name).c_str();
        };
        add(kContentDirectoryType, kContentDirectoryId, "ContentDirectory");
        add(kConnectionManagerType, kConnectionManagerId, "ConnectionManager");
        std::ostringstream text;
        document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
        return text.str();
    }

    static void OnDirectoryAction(GUPnPService *, GUPnPServiceAction *action, gpointer server) {
        static_cast<Server *>(server)->Directory(action);
    }
    static void OnConnectionAction(GUPnPService *, GUPnPServiceAction *action, gpointer) { Connections(action); }

private:
    void Directory(GUPnPServiceAction *action) {
        std::string name = gupnp_service_action_get_name(action);
        if (name == "GetSearchCapabilities") {
            gupnp_service_action_set(action, "SearchCaps", G_TYPE_STRING, searchCaps_.c_str(), nullptr);
        } else if (name == "GetSortCapabilities") {
            gupnp_service_action_set(action, "SortCaps", G_TYPE_STRING, sortCaps_.c_str(), nullptr);
        } else if (name == "GetSystemUpdateID") {
            gupnp_service_action_set(action, "Id", G_TYPE_STRING, "1", nullptr);
        } else if (name == "Search" || name == "Browse") {
            auto pending = std::make_unique<PendingAction>();
            pending->action = action;
            ObjectRequest &object = pending->request;
            std::string flag;
            bool search = name == "Search";
            bool complete = Argument(action, search ? "ContainerID" : "ObjectID", &object.objectId) &&
                            (search ? Argument(action, "SearchCriteria", &object.criteria)
                                    : Argument(action, "BrowseFlag", &flag)) &&
                            Argument(action, "Filter", &pending->filter) && Argument(action, "SortCriteria", &object.sort) &&
                            Number(action, "StartingIndex", &object.start) && Number(action, "RequestedCount", &object.count);
            if (!search && (flag == "BrowseMetadata" || flag == "BrowseDirectChildren")) {
                object.kind = flag == "BrowseMetadata" ? ObjectRequest::kMetadata : ObjectRequest::kChildren;
            } else if (!search) {
                complete = false;
            }
            if (!complete) return Fail(action, {kUpnpInvalidArgs, "Invalid Args"});
            // Requests that arrive while the server stops are turned away, not queued.
            if (workers_ == nullptr) return Fail(action, {kUpnpActionFailed, "the server is stopping"});
            if (!workers_->Push(std::move(pending))) Fail(action, {kUpnpActionFailed, "too many requests at once"});
            return;
        } else {
            return Fail(action, {401, "Invalid Action"});
        }
        gupnp_service_action_return_success(action);
    }

    static void Connections(GUPnPServiceAction *action) {
        std::string name = gupnp_service_action_get_name(action);
        if (name == "GetProtocolInfo") {
            std::string source;
            for (const auto &entry : kMimeTypes) {
                std::string info = ProtocolInfo(entry.second);
                if (source.find(info) == std::string::npos) source += (source.empty() ? "" : ",") + info;
            }
            gupnp_service_action_set(action, "Source", G_TYPE_STRING, source.c_str(), "Sink", G_TYPE_STRING, "", nullptr);
        } else if (name == "GetCurrentConnectionIDs") {
            gupnp_service_action_set(action, "ConnectionIDs", G_TYPE_STRING, "0", nullptr);
        } else if (name == "GetCurrentConnectionInfo") {
            // Connection 0, the one a server without PrepareForConnection has.
            std::string id;
            if (!Argument(action, "ConnectionID", &id)) return Fail(action, {kUpnpInvalidArgs, "Invalid Args"});
            if (id != "0") return Fail(action, {706, "Invalid connection reference"});
            gupnp_service_action_set(action, "RcsID", G_TYPE_STRING, "-1", "AVTransportID", G_TYPE_STRING, "-1",
                                     "ProtocolInfo", G_TYPE_STRING, "", "PeerConnectionManager", G_TYPE_STRING, "",
                                     "PeerConnectionID", G_TYPE_STRING, "-1", "Direction", G_TYPE_STRING, "Output",
                                     "Status", G_TYPE_STRING, "OK", nullptr);
        } else {
            return Fail(action, {401, "Invalid Action"});
        }
        gupnp_service_action_return_success(action);
    }

    const ServeOptions serve_;
    HostOptions host_;
    SelectQuery select_;
    DidlLayout layout_;
    std::string searchCaps_;
    std::string sortCaps_;
    std::unique_ptr<WorkerPool> workers_;
};

// A request body past kMaxRequestBytes, or one of no stated length, is refused before it is read.
void OnHeaders(SoupServerMessage *message, gpointer) {
    SoupMessageHeaders *headers = soup_server_message_get_request_headers(message);
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CHUNKED ||
        soup_message_headers_get_content_length(headers) > kMaxRequestBytes) {
        soup_server_message_set_status(message, SOUP_STATUS_REQUEST_ENTITY_TOO_LARGE, nullptr);
    }
}
void OnRequest(SoupServer *, SoupServerMessage *message, gpointer) {
    g_signal_connect(message, "got-headers", G_CALLBACK(OnHeaders), nullptr);
}

// A private folder for the documents GUPnP serves from files: the description and the SCPDs.
class DocumentFolder {
public:
    bool Create(const std::string &description, std::string *error) {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mysearchcriteria-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            *error = "cannot create a folder in " + pattern.substr(0, pattern.rfind('/'));
            return false;
        }
        path_ = pattern;
        for (const auto &[name, text] : {std::pair<const char *, const char *>{"description.xml", description.c_str()},
                                         {"ContentDirectory1.xml", kContentDirectoryScpd},
                                         {"ConnectionManager1.xml", kConnectionManagerScpd}}) {
            std::ofstream file(path_ + "/" + name);
            file << text;
            files_.push_back(path_ + "/" + name);
            if (!file.flush()) {
                *error = "cannot write " + files_.back();
                return false;
            }
        }
        return true;
    }
    ~DocumentFolder() {
        for (const std::string &file : files_) remove(file.c_str());
        if (!path_.empty()) remove(path_.c_str());
    }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

// libxml2 reports a malformed body on standard error, quoting it: a client would write its bytes
// into the server's log.
void IgnoreXmlError(void *, const char *, ...) {}

gboolean OnStopSignal(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop *>(loop));
    return G_SOURCE_CONTINUE;
}

}  // namespace

int ServeMediaServer(const ServeOptions &serve, const HostOptions &host, const SelectQuery &select) {
    auto fail = [](const std::string &message) {
        fprintf(stderr, "mysearchcriteria: serve: %s\n", message.c_str());
        return 1;
    };
    Server server(serve, host, select);
    std::string error;
    if (!server.Prepare(&error)) return fail(error);
    DocumentFolder folder;
    if (!folder.Create(server.Description(), &error)) return fail(error);
    // A client that hangs up mid-answer must not end the process.
    signal(SIGPIPE, SIG_IGN);
    // GUPnP parses every request on this thread, whose handler this sets.
    xmlSetGenericErrorFunc(nullptr, IgnoreXmlError);

    GInetAddress *address = g_inet_address_new_from_string(serve.address.c_str());
    if (address == nullptr || g_inet_address_get_family(address) != G_SOCKET_FAMILY_IPV4) {
        if (address != nullptr) g_object_unref(address);
        return fail("not an IPv4 address: " + serve.address);
    }
    GError *gerror = nullptr;
    // The context listens on this one address: HTTP on the port, SSDP on the address's interface.
    GUPnPContext *context = gupnp_context_new_for_address(address, serve.port, GSSDP_UDA_VERSION_1_0, &gerror);
    g_object_unref(address);
    GUPnPRootDevice *root = context != nullptr ? gupnp_root_device_new(context, "description.xml",
                                                                        folder.Path().c_str(), &gerror)
                                               : nullptr;
    if (root == nullptr) {
        error = gerror != nullptr ? gerror->message : "failed";
        g_clear_error(&gerror);
        if (context != nullptr) g_object_unref(context);
        return fail("cannot start the UPnP device: " + error);
    }
    g_signal_connect(gupnp_context_get_server(context), "request-started", G_CALLBACK(OnRequest), nullptr);
    GUPnPServiceInfo *directory = gupnp_device_info_get_service(GUPNP_DEVICE_INFO(root), kContentDirectoryType);
    GUPnPServiceInfo *connections = gupnp_device_info_get_service(GUPNP_DEVICE_INFO(root), kConnectionManagerType);
    // GUPnP calls only handlers connected for the action's name, and answers 401 for the others.
    for (const char *action : {"GetSearchCapabilities", "GetSortCapabilities", "GetSystemUpdateID", "Search", "Browse"}) {
        g_signal_connect(directory, (std::string("action-invoked::") + action).c_str(),
                         G_CALLBACK(Server::OnDirectoryAction), &server);
    }
    for (const char *action : {"GetProtocolInfo", "GetCurrentConnectionIDs", "GetCurrentConnectionInfo"}) {
        g_signal_connect(connections, (std::string("action-invoked::") + action).c_str(),
                         G_CALLBACK(Server::OnConnectionAction), nullptr);
    }

    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    server.Start(g_main_loop_get_context(loop));
    guint interrupt = g_unix_signal_add(SIGINT, OnStopSignal, loop);
    guint terminate = g_unix_signal_add(SIGTERM, OnStopSignal, loop);
    // An unavailable device sends nothing over SSDP; it still answers its description URL.
    if (serve.announce) gupnp_root_device_set_available(root, TRUE);
    printf("%s\n", gupnp_device_info_get_location(GUPNP_DEVICE_INFO(root)));
    fflush(stdout);
    g_main_loop_run(loop);

    // The workers finish what they hold; their answers go out from one more turn of the loop.
    server.Stop();
    while (g_main_context_iteration(g_main_loop_get_context(loop), FALSE)) {
    }
    if (serve.announce) gupnp_root_device_set_available(root, FALSE);
    g_source_remove(interrupt);
    g_source_remove(terminate);
    g_object_unref(directory);
    g_object_unref(connections);
    g_object_unref(root);
    g_object_unref(context);
    g_main_loop_unref(loop);
    return 0;
}

}  // namespace msc_host
