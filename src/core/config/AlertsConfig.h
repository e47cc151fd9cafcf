#pragma once

#include <QList>
#include <QString>

// Where alerts go, from the installation's file:
//
//   [Alerts]
//   back up after = 60        # seconds a relaunched server stays up before "back up" is told
//   summary every = 600       # at most one "keeps crashing" summary per this many seconds
//   queue limit = 500         # alerts kept for endpoints that cannot be reached
//   [Alert ops]               # one section per endpoint, named as the log names it
//   url file = /etc/corvane/ops-webhook.url   # or: url = https://...
//   format = discord          # json (the default), discord, slack or ntfy
//   headers file = /etc/corvane/ops.headers   # "Name: value" lines, e.g. a token
//   ca file = /etc/corvane/private-ca.pem     # certificates to trust besides the system's
//
// (Explanations beside keys are for this note only: in the file a comment takes a line of its
// own.) The files named are read when an alert is sent, so that secrets stay out of this file.
struct AlertEndpointConfig {
    QString name;
    QString url;
    QString urlFile;
    QString format = QStringLiteral("json");
    QString headersFile;
    QString caFile;
};

struct AlertsConfig {
    QList<AlertEndpointConfig> endpoints;
    int backUpAfterSeconds = 60;
    int summaryEverySeconds = 600;
    int queueLimit = 500;

    // Applies one "key = value" line of [Alerts], or of an endpoint's section; false with the
    // reason when it cannot.
    bool applyKey(const QString& key, const QString& value, QString* why);
    static bool ApplyEndpointKey(AlertEndpointConfig& endpoint, const QString& key,
                                 const QString& value, QString* why);
    // An http:// or https:// address with a host.
    static bool UsableUrl(const QString& text);
    // Why the endpoint cannot be used (no address, a bad one); empty when it can.
    static QString EndpointProblem(const AlertEndpointConfig& endpoint);
};
