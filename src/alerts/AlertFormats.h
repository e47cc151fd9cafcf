#pragma once

#include "Alert.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// The shapes a webhook takes an alert in.
//   json     the launcher's own schema (see the README)
//   discord  a Discord webhook's message: content and one embed
//   slack    a Slack incoming webhook's message: text and blocks
//   ntfy     an ntfy topic's message: plain text, with a Title header
enum class AlertFormat { Json, Discord, Slack, Ntfy };

// "json", "discord", "slack" or "ntfy", in any case; nothing for another name.
std::optional<AlertFormat> AlertFormatNamed(const QString& name);
QString AlertFormatName(AlertFormat format);

// One HTTP POST: its body, its content type, and the headers the format adds.
struct AlertPayload {
    QByteArray body;
    QByteArray contentType;
    QList<QPair<QByteArray, QByteArray>> headers;
};

AlertPayload FormatAlert(const Alert& alert, AlertFormat format);
