#pragma once

#include <QByteArray>

// Whether the value of a request's Authorization header ("Bearer <token>", the scheme in any case)
// carries the token. The comparison takes as long whatever was sent: how long an answer takes tells
// nothing of how much of a guess was right, nor of the token's length.
bool CarriesBearerToken(const QByteArray& authorization, const QByteArray& token);
