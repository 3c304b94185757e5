#pragma once

// A raw HTTP client for the login callback listener on 127.0.0.1:49231.

#include <QByteArray>
#include <QList>
#include <QString>

// Sends raw bytes (in pieces, with pauses between) and returns everything the
// listener answered before closing.
QByteArray callbackExchange(const QList<QByteArray> &pieces);
QByteArray callbackGet(const QString &target);
// The body of an HTTP response.
QByteArray responseBody(const QByteArray &response);
