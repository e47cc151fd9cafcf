#pragma once

#include "ServerTable.h"

#include <QObject>
#include <QRegularExpression>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class ConsoleLineWatch;
class ResourceSampler;
class ServerFleet;
class modAPIs;
struct InstallationConfig;

// The players on each server whose installation section says how its console tells them: read
// from the console at every resource sample, counted anew each time the server's process is a new
// one (a start, a relaunch, a restart).
class PlayerCounter : public QObject {
    Q_OBJECT
public:
    // At most this many of a console's newest lines are read at one look: a server that prints
    // more in one sample's time may have a join or a leave left uncounted.
    static constexpr int kLinesPerLook = 200;
    // A count a line states above this is taken as no count.
    static constexpr int kMostPlayers = 1'000'000;

    PlayerCounter(modAPIs& apis, const ServerFleet& fleet, const InstallationConfig& installation,
                  const ResourceSampler& sampler, QObject* parent = nullptr);
    ~PlayerCounter() override;

    // The players on the server: nothing when its section sets no player rules, 0 while it is not
    // running.
    std::optional<int> players(int server) const;

    // Reads what each counting server printed since the last look; runs after every sample.
    void Look();

private:
    struct Counting {
        std::int32_t pid = 0; // the process counted; 0: none
        std::unique_ptr<ConsoleLineWatch> console;
        QRegularExpression count, joins, leaves;
        int players = 0;
    };
    void begin(int server, std::int32_t pid);
    void read(Counting& c, const QStringList& lines);

    modAPIs& apis_;
    const ServerFleet& fleet_;
    const InstallationConfig& installation_;
    std::array<Counting, ServerTable::kCount> counting_;
};
