#include "serve/serveoptions.h"

#include "platform/exitstatus.h"
#include "start/complaint.h"
#include "start/programoptions.h"

#include <arpa/inet.h>

namespace orvantis {

const char kServeProgram[] = "orvantis-serve";

const char kServeUsage[] =
    "Usage: orvantis-serve [OPTION]... [FOLDER]\n"
    "Serve the ranking of game server accounts as a live leaderboard on the web.\n"
    "\n"
    "Reads every account file in FOLDER/accounts, follows the folder's changes, and serves the\n"
    "ranking over HTTP, each change within a second: the leaderboard page (/), the ranking as\n"
    "JSON, CSV or TSV (/ranking.json, /ranking.csv, /ranking.tsv; whole, as orvantis-rank\n"
    "writes it, or ?page=N, ?from=RANK&count=N or ?q=TEXT for a part), its changes as\n"
    "server-sent events (/events) and how it fares (/status). FOLDER defaults to the folder\n"
    "that holds this program. Nothing is written to the folder.\n"
    "\n"
    "A search (?q=TEXT) counts the accounts it finds up to 10,000: beyond, the page says \"more\n"
    "than 10,000\", the files' X-Total-Count header \">10000\", and its pages and ?from= go as\n"
    "far as the first 10,000 (further asks get 400 and why).\n"
    "\n"
    "Options:\n"
    "  --listen ADDRESS:PORT    where to listen: 127.0.0.1:8080, this host alone, by default;\n"
    "                           0.0.0.0:8080 or [::]:8080 for every interface; port 0 for any\n"
    "                           free port (the one taken is said on standard error). Give it\n"
    "                           again for more addresses (127.0.0.1:8080 and [::1]:8080 for\n"
    "                           localhost by either); [::] then takes IPv6 alone\n"
    "  --tls-cert FILE          serve HTTPS with this certificate (PEM, the chain after it)\n"
    "  --tls-key FILE           and this private key (PEM); both or neither\n"
    "  --history FILE           keep the history of every account's changes in FILE, an\n"
    "                           SQLite database made when missing: when each account was\n"
    "                           first seen and removed, and each change of its best level,\n"
    "                           login or best character, with its time (UTC)\n"
    "  --max-connections N      connections at once, over all clients (default 4096): each is\n"
    "                           a file descriptor and up to its memory below; lowered to what\n"
    "                           the descriptor limit (ulimit -n) leaves after the folder's\n"
    "                           own, which is raised to its hard limit first\n"
    "  --max-per-address N      connections at once from one client address (default 64): a\n"
    "                           browser opens six to a host\n"
    "  --trusted-proxy ADDRESS  a reverse proxy in front (an address, or a network such as\n"
    "                           10.0.0.0/8; again for more): its connections are held only to\n"
    "                           --max-connections, and the client it names last in\n"
    "                           X-Forwarded-For is held to --max-per-address open requests\n"
    "                           and to the searches' limits, and named in the log; that\n"
    "                           header is believed from no one else\n"
    "  --idle-timeout SECONDS   a connection that sends or takes nothing this long is closed\n"
    "                           (default 30; the event stream sends a heartbeat every 15): a\n"
    "                           client that sends its request a byte at a time, or takes\n"
    "                           the answer so, is closed when it stalls that long\n"
    "  --connection-memory KIB  the memory one connection may take for its request\n"
    "                           (default 32): any browser's request fits, its cookies too;\n"
    "                           100 KB of headers is refused. Above 32, the memory of each\n"
    "                           new connection is mapped apart: a third as many new\n"
    "                           connections a second\n"
    "  --send-buffer KIB        the system's send buffer of one connection (default 256, held\n"
    "                           to net.core.wmem_max): a page fits whole; a client that reads\n"
    "                           slowly, or never, holds no more of the server, where the system\n"
    "                           would grow it to megabytes and copy into each such client\n"
    "  --searches-at-once N     searches from one client address answered at once (default\n"
    "                           4); more at once get 429: a search costs the server more\n"
    "                           than a page, and no address may take its threads from\n"
    "                           everyone else's pages\n"
    "  --search-rate N          searches a second from one client address, on average\n"
    "                           (default 20), beyond which they get 429 with Retry-After\n"
    "  --search-burst N         searches one client address may send at once before its rate\n"
    "                           holds (default 40): a player typing, or a page of results\n"
    "                           opened in tabs, is never held back. Behind a reverse proxy,\n"
    "                           every client shares the proxy's address: raise all three\n"
    "  -h, --help               show this help and exit\n"
    "  --version                show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0   stopped by SIGINT or SIGTERM\n"
    "  1   FOLDER has no entry named exactly \"accounts\", or FOLDER does not exist\n"
    "  2   bad usage: an unknown option, an address or number that is not one, more than one\n"
    "      FOLDER\n"
    "  69  the address cannot be listened on: in use, not this host's, or a port below 1024\n"
    "      without the right to it (the reason is on standard error)\n"
    "  70  the accounts folder could not be read at the start, or the program ran short of\n"
    "      memory, threads or file descriptors (the reason is on standard error)\n"
    "  78  the TLS certificate or key is missing, cannot be read, is no PEM file, or the\n"
    "      key is not the certificate's (the reason is on standard error)\n";

namespace {

// Each address is a listening socket and a pool of threads of its own.
constexpr size_t kMostListens = 8;

// "127.0.0.1:8080", "[::]:8080": a numeric address and a port; false when it is no such thing.
bool readListen(const QString &text, ListenAddress &listen) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return false;
    QString address = text.left(colon);
    if (address.startsWith(u'[') && address.endsWith(u']'))
        address = address.mid(1, address.size() - 2);
    else if (address.contains(u':'))
        return false; // an IPv6 address goes in brackets
    bool number = false;
    const uint value = text.mid(colon + 1).toUInt(&number);
    unsigned char parsed[sizeof(in6_addr)];
    const QByteArray bytes = address.toLatin1();
    if (!number || value > 65535 ||
        (::inet_pton(AF_INET, bytes.constData(), parsed) != 1 &&
         ::inet_pton(AF_INET6, bytes.constData(), parsed) != 1))
        return false;
    listen = {address, static_cast<uint16_t>(value)};
    return true;
}

// orvantis-serve's own options, and how each is read into a request.
struct ServeOptions {
    QCommandLineOption listen{QStringLiteral("listen"), QString(), QStringLiteral("ADDRESS")};
    QCommandLineOption connections{QStringLiteral("max-connections"), QString(),
                                   QStringLiteral("N")};
    QCommandLineOption perAddress{QStringLiteral("max-per-address"), QString(),
                                  QStringLiteral("N")};
    QCommandLineOption idle{QStringLiteral("idle-timeout"), QString(), QStringLiteral("S")};
    QCommandLineOption memory{QStringLiteral("connection-memory"), QString(),
                              QStringLiteral("KIB")};
    QCommandLineOption sendBuffer{QStringLiteral("send-buffer"), QString(), QStringLiteral("KIB")};
    QCommandLineOption searchesAtOnce{QStringLiteral("searches-at-once"), QString(),
                                      QStringLiteral("N")};
    QCommandLineOption searchRate{QStringLiteral("search-rate"), QString(), QStringLiteral("N")};
    QCommandLineOption searchBurst{QStringLiteral("search-burst"), QString(), QStringLiteral("N")};
    QCommandLineOption certificate{QStringLiteral("tls-cert"), QString(), QStringLiteral("FILE")};
    QCommandLineOption key{QStringLiteral("tls-key"), QString(), QStringLiteral("FILE")};
    QCommandLineOption proxy{QStringLiteral("trusted-proxy"), QString(), QStringLiteral("ADDRESS")};
    QCommandLineOption history{QStringLiteral("history"), QString(), QStringLiteral("FILE")};

    explicit ServeOptions(ProgramOptions &options) {
        for (const QCommandLineOption &option :
             {listen, connections, perAddress, idle, memory, sendBuffer, searchesAtOnce, searchRate,
              searchBurst, certificate, key, proxy, history})
            options.add(option);
    }
};

bool readListens(const ProgramOptions &options, const ServeOptions &own, ServeRequest &request) {
    const QCommandLineParser &parser = options.parser();
    if (!parser.isSet(own.listen))
        return true;
    request.listen.clear();
    for (const QString &text : parser.values(own.listen)) {
        ListenAddress address;
        if (!readListen(text, address)) {
            options.badUsage(QStringLiteral("--listen takes a numeric address and a port, such as "
                                            "127.0.0.1:8080 or [::]:8080, not \"%1\"")
                                 .arg(text));
            return false;
        }
        request.listen.push_back(address);
    }
    if (request.listen.size() > kMostListens) {
        options.badUsage(QStringLiteral("--listen at most %1 times").arg(kMostListens));
        return false;
    }
    return true;
}

bool readTlsAndProxies(const ProgramOptions &options, const ServeOptions &own,
                       ServeRequest &request) {
    const QCommandLineParser &parser = options.parser();
    if (parser.isSet(own.certificate) != parser.isSet(own.key)) {
        options.badUsage(QStringLiteral("--tls-cert and --tls-key go together"));
        return false;
    }
    request.tlsCertificate = parser.value(own.certificate);
    request.tlsKey = parser.value(own.key);
    QString notAnAddress;
    const std::optional<TrustedProxies> proxies =
        TrustedProxies::parse(parser.values(own.proxy), notAnAddress);
    if (!proxies) {
        options.badUsage(QStringLiteral("--trusted-proxy takes a numeric address or network, "
                                        "such as 127.0.0.1, ::1 or 10.0.0.0/8, not \"%1\"")
                             .arg(notAnAddress));
        return false;
    }
    request.limits.trustedProxies = *proxies;
    return true;
}

// A limit, a whole number from `least` to `most`, when the option is given.
template <typename Value>
bool readLimit(const ProgramOptions &options, const QCommandLineOption &option, Value &value,
               qulonglong least, qulonglong most) {
    const QCommandLineParser &parser = options.parser();
    if (!parser.isSet(option))
        return true;
    bool number = false;
    const qulonglong n = parser.value(option).toULongLong(&number);
    if (number && n >= least && n <= most) {
        value = static_cast<Value>(n);
        return true;
    }
    options.badUsage(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                         .arg(option.names().constFirst())
                         .arg(least)
                         .arg(most)
                         .arg(parser.value(option)));
    return false;
}

bool readLimits(const ProgramOptions &options, const ServeOptions &own, ServeLimits &limits) {
    size_t memoryKib = limits.connectionMemory / 1024;
    size_t sendKib = limits.sendBuffer / 1024;
    if (!readLimit(options, own.connections, limits.connections, 1, 1000000) ||
        !readLimit(options, own.perAddress, limits.perAddress, 1, 1000000) ||
        !readLimit(options, own.idle, limits.idleSeconds, 1, 86400) ||
        !readLimit(options, own.memory, memoryKib, 4, 1024) ||
        !readLimit(options, own.sendBuffer, sendKib, 4, 65536) ||
        !readLimit(options, own.searchesAtOnce, limits.searches.atOnce, 1, 1000000) ||
        !readLimit(options, own.searchRate, limits.searches.perSecond, 1, 1000000) ||
        !readLimit(options, own.searchBurst, limits.searches.burst, 1, 1000000))
        return false;
    limits.connectionMemory = memoryKib * 1024;
    limits.sendBuffer = sendKib * 1024;
    return true;
}

} // namespace

std::optional<int> readServeCommandLine(const QStringList &arguments,
                                        const QString &programDirectory, ServeRequest &request) {
    ProgramOptions options(kServeProgram, kServeUsage, complain);
    const ServeOptions own(options);
    if (const auto status = options.read(arguments))
        return status;
    if (!readListens(options, own, request) || !readTlsAndProxies(options, own, request) ||
        !readLimits(options, own, request.limits))
        return kExitUsage;
    request.historyFile = options.parser().value(own.history);
    if (options.parser().isSet(own.history) && request.historyFile.isEmpty())
        return options.badUsage(QStringLiteral("--history takes a file name"));
    request.programFolder = options.folder(programDirectory);
    return std::nullopt;
}

} // namespace orvantis
