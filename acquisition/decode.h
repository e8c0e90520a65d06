#pragma once

// Decoding the readings of a calibration run, as plain functions.

#include <QList>
#include <QString>
#include <QStringList>

namespace acquisition {

// M701: the value of channel n at offset 8n - 802. False when a channel has
// no value in the reply (outside 101..116 or not a number).
bool decodeM701(const QString &reply, const QStringList &channels, QStringList *values);

// M702: one float per enabled channel in ascending channel order, assigned
// to `channels` (table order) by ascending channel number. False when the
// reply does not hold exactly one value per channel.
bool decodeM702(const QString &reply, const QStringList &channels, QStringList *values);

// "101(℃)" or "103(%RH)"; a channel without a flag is a temperature channel.
QString channelHeader(const QString &number, const QString &flags, int index);

} // namespace acquisition
