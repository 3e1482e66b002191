// The hub's pages, written on the server from the same JSON the API gives,
// so a page can never show what the API does not say. Each is a whole HTML
// document with the hub's style sheet (/static/hub.css); the dashboard's
// script (/static/dashboard.js) refreshes the servers' status in place.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include "Store.h"

namespace gs::hub {

QByteArray DashboardPage(const QJsonArray& servers, const QJsonObject& latestRaces, const QJsonArray& tracks);
// `servers`: the keys the filter form offers.
QByteArray RacesPage(const QJsonObject& races, const RaceFilter& filter, const QStringList& servers);
// The race report of one session: results (the finishing order), lap chart
// and race trace (races) and lap times, as the recorder's report draws them;
// its penalties and the classification after them.
QByteArray RacePage(const QJsonObject& race);
QByteArray DriverPage(const QJsonObject& driver);
QByteArray TrackPage(const QJsonObject& track, const QString& car);
// The championships of the config: [{"key","title"}].
QByteArray ChampionshipsPage(const QJsonArray& championships);
// One championship's standings, rounds and penalties, from its JSON.
QByteArray ChampionshipPage(const QJsonObject& table);

// "m:ss.hh" of a time in ms, or "" for none.
QString LapText(qint64 ms);

}  // namespace gs::hub
