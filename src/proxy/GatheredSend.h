#pragma once

#include <cstddef>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

class QTcpSocket;

// Hands the kernel as much of `frames` as it takes at once, starting at byte
// `offset` of frame `frame`, past Qt's write buffer; both are advanced over
// what was taken. Stops at the first frame not taken whole, on a full socket
// buffer and on any error: the caller writes the rest through Qt, which then
// reports errors as usual. Must be called only while Qt holds nothing unsent
// for the socket. Where the platform has no gathered send it takes nothing.
void sendGathered(QTcpSocket &socket, const std::vector<QByteArray> &frames, size_t &frame, qint64 &offset);
