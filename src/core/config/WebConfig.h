#pragma once

#include <QString>

// The web panel, from the installation's file; served only when the file has a [Web] section:
//
//   [Web]
//   address = 127.0.0.1             # where it listens; loopback unless it has TLS or a proxy
//   port = 18740
//   certificate file = /etc/corvane/panel.crt   # with the key file: served over TLS
//   key file = /etc/corvane/panel.key
//   trusted proxy = 127.0.0.1       # a reverse proxy in front: its X-Forwarded-For is believed
//   origin = https://game.example.org   # the panel's address as browsers show it
//
// (Explanations beside keys are for this note only.) A panel on an address other than loopback
// needs TLS or a trusted proxy, so that no password crosses a network in clear text.
struct WebConfig {
    bool on = false; // the file has a [Web] section
    QString address = QStringLiteral("127.0.0.1");
    int port = 18740;
    QString certificateFile;
    QString keyFile;
    QString trustedProxy;
    QString origin; // scheme://host[:port]; empty: the address and port it listens on

    bool tls() const { return !certificateFile.isEmpty(); }
    // Applies one "key = value" line of [Web]; false with the reason when it cannot.
    bool applyKey(const QString& key, const QString& value, QString* why);
    // Why the panel cannot be served as the section says; empty when it can.
    QString problem() const;
};
