#pragma once

#include <QByteArray>

// What the connection guard reads of a request before the HTTP layer answers it.

enum class RequestLine { Incomplete, Valid, Invalid };

// A request line is at most this long.
constexpr qsizetype kRequestLineBytes = 8192;

// Whether the start of a request is an HTTP/1 request line ("GET /metrics HTTP/1.1"), or may still
// become one as more bytes arrive. The HTTP layer drops a connection whose request it cannot parse
// without a word; the guard answers such a client 400 instead.
RequestLine JudgeRequestLine(const QByteArray& start);

// Whether the client of a request wants the connection ended once it has its answer: an HTTP/1.0
// request without "Connection: keep-alive", or any request with "Connection: close".
bool WantsCloseAfterAnswer(const QByteArray& request);
