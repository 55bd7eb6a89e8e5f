#pragma once

#include "serve/rowsquery.h"
#include "serve/snapshot.h"

#include <QByteArray>

#include <memory>
#include <utility>
#include <vector>

namespace orvantis {

// A request, as the server hands it on: its method, its path, its query parameters decoded, and
// the request headers that change the answer.
struct HttpRequest {
    QByteArray method;
    QByteArray path;
    QueryParameters parameters;
    QByteArray acceptEncoding;
    QByteArray ifNoneMatch;
    QByteArray ifModifiedSince;
};

using HttpHeaders = std::vector<std::pair<QByteArray, QByteArray>>;

// The answer to a request, before it is sent: the status, the headers, and the body (shared with
// every other answer that sends the same bytes); or the event stream, which the server sends as
// its events come.
struct HttpResponse {
    int status = 200;
    HttpHeaders headers;
    std::shared_ptr<const Body> body; // for a 304, the body the client has
    bool gzipped = false;             // send body->gzipped()
    bool eventStream = false;
    QByteArray serving; // the event stream's: the tag of the snapshot served when it opens
    // Which of its body's ways this answer is (Body::prepared), when every such answer of the
    // body is the same, headers and all; -1 when it is this request's own.
    int way = -1;
    const QByteArray &bytes() const;
};

// The files the page loads, made into bodies once: its script, its style and its icon, each
// with an entity tag made of its bytes.
struct PageFiles {
    struct File {
        std::shared_ptr<const Body> body;
        QByteArray tag;
        QByteArray type;
    };
    File script, style, icon;
    static PageFiles load();
};

// Answers a request from one snapshot of the ranking: the page (/), the ranking's files
// (/ranking.json, .csv, .tsv), the event stream (/events), /status and the page's two files.
// Only GET and HEAD (else 405); any other path is 404; a bad parameter 400, with one line saying
// why. No file is read to answer it.
HttpResponse respond(const HttpRequest &request, const Snapshot &snapshot, const PageFiles &files);

// Whether answering the request searches the ranking: a q= of the page or of the files.
bool searches(const HttpRequest &request);
// A search refused by a limit on its address, too many at once or too fast: 429, and when to
// try again.
HttpResponse searchRefused(bool tooManyAtOnce, int retryAfterSeconds);
// A request through a proxy from a client that has `most` open already: 429.
HttpResponse tooManyOpen(unsigned most);

} // namespace orvantis
