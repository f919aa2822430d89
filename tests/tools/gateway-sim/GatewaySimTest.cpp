// gateway-sim as the monitor meets it: acknowledgements, report formats, the parameter
// store, and the line faults it can stage (split writes, withheld acknowledgements,
// hang-up, restart).

#include "SimProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using simtest::AcknowledgementMatches;
using simtest::SimProcess;

namespace {

std::unique_ptr<SimProcess> StartSim(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--seed", "11"});
    auto sim = std::make_unique<SimProcess>(std::move(arguments));
    EXPECT_TRUE(sim->IsRunning());
    EXPECT_EQ(sim->NextStdoutLine().rfind("/dev/pts/", 0), 0u);
    EXPECT_TRUE(sim->OpenPort());
    return sim;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!text.empty() && text.back() == separator) fields.emplace_back();
    return fields;
}

bool IsInteger(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

TEST(GatewaySim, AcknowledgesEveryMonitorCommandSoThatTheQueueAdvances) {
    auto sim = StartSim({});
    struct Row {
        const char* command;
        const char* ack;
    };
    const Row rows[] = {
        {"%info", "OK info"},
        {"%show_off", "OK show_off"},
        {"%show_cell 1", "OK show_cell"},
        {"%show_state 1", "OK show_state"},
        {"%show_io 5", "OK show_io"},
        {"%show_brg 0", "OK show_brg"},
        {"%show_gnss 0", "OK show_gnss"},
        {"%par_get 97", "OK par_get"},
        {"%par_set 97 internet", "OK par_set"},
        {"%par_set 1 ", "OK par_set"}, // unregister: empty value after the blank
        {"%pkt_tx 1E16AFFD0000ED07073CA1B2C3D4E5F602", "OK pkt_tx"},
        {"%default", "OK default"},
        {"%connect", "OK connect"},
        // Refusals still acknowledge, so a failed command leaves the monitor's queue too.
        {"%show_io fast", "ERROR show_io"},
        {"%show_cell 2", "ERROR show_cell"},
        {"%par_get 4242", "ERROR par_get"},  // no such parameter
        {"%par_set 64 1", "ERROR par_set"},  // the ICCID comes from the SIM card
        {"%pkt_tx 1E16AFFD0", "ERROR pkt_tx"}, // odd number of digits
        {"%pkt_tx", "ERROR pkt_tx"},
        {"%fly", "ERROR fly"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(sim->Send(row.command));
        const auto ack = sim->NextAcknowledgement();
        ASSERT_TRUE(ack) << row.command;
        EXPECT_EQ(*ack, row.ack) << row.command;
        EXPECT_TRUE(AcknowledgementMatches(*ack, row.command)) << row.command;
    }
}

TEST(GatewaySim, InfoReportCarriesSixFieldsAndFollowsTheParameters) {
    auto sim = StartSim({"--gateway-id", "QEL123456789012345"});
    ASSERT_TRUE(sim->Send("%info"));
    auto info = sim->WaitFor(":info ");
    ASSERT_TRUE(info);
    auto fields = Split(info->substr(6), ',');
    ASSERT_EQ(fields.size(), 6u) << *info;
    EXPECT_EQ(fields[0], "QEL123456789012345");
    EXPECT_TRUE(IsInteger(fields[1])) << fields[1];
    EXPECT_FALSE(fields[2].empty());
    EXPECT_EQ(Split(fields[3], '.').size(), 3u) << fields[3];
    EXPECT_EQ(fields[5], "aws-prod-cloud");

    // Unregistering empties the owner; a new server name shows at once.
    ASSERT_TRUE(sim->Send("%par_set 1 "));
    ASSERT_TRUE(sim->Send("%par_set 12 aws-test-cloud"));
    ASSERT_TRUE(sim->Send("%info"));
    info = sim->WaitFor(":info ");
    ASSERT_TRUE(info);
    fields = Split(info->substr(6), ',');
    ASSERT_EQ(fields.size(), 6u) << *info;
    EXPECT_EQ(fields[4], "");
    EXPECT_EQ(fields[5], "aws-test-cloud");
}

TEST(GatewaySim, ParameterStoreKeepsValuesAndDefaultRestoresFactoryOnes) {
    auto sim = StartSim({"--param", "97=m2m.factory"});
    auto get = [&](int number) {
        EXPECT_TRUE(sim->Send("%par_get " + std::to_string(number)));
        const auto line = sim->WaitFor(":get " + std::to_string(number));
        return line ? *line : std::string("<none>");
    };
    // Every parameter the monitor reads answers, values with blanks included.
    EXPECT_EQ(get(1), ":get 1 100245");
    EXPECT_EQ(get(12), ":get 12 aws-prod-cloud");
    EXPECT_EQ(get(64), ":get 64 8935106012345678901");
    EXPECT_EQ(get(97), ":get 97 m2m.factory");
    EXPECT_EQ(get(5640), ":get 5640");
    EXPECT_EQ(get(61), ":get 61");

    ASSERT_TRUE(sim->Send("%par_set 5640 My Net"));
    ASSERT_TRUE(sim->Send("%par_set 5641 "));
    ASSERT_TRUE(sim->Send("%par_set 61 1234"));
    EXPECT_EQ(get(5640), ":get 5640 My Net");
    EXPECT_EQ(get(5641), ":get 5641");
    EXPECT_EQ(get(61), ":get 61 ****"); // write-only: set, but not shown

    ASSERT_TRUE(sim->Send("%default"));
    EXPECT_EQ(get(5640), ":get 5640");
    EXPECT_EQ(get(97), ":get 97 m2m.factory");
}

TEST(GatewaySim, StreamReportsHaveTheFormatsTheParsersRead) {
    auto sim = StartSim({"--gnss-fix-ms", "0", "--position", "-33.85000,151.20000"});
    for (const char* command : {"%show_cell 1", "%show_io 1", "%show_state 1", "%show_gnss 1"}) ASSERT_TRUE(sim->Send(command));

    // The first report of each kind, in whatever order they come.
    std::map<std::string, std::string> first;
    while (first.size() < 4) {
        const auto line = sim->NextLine();
        ASSERT_TRUE(line);
        const std::string word = line->substr(0, line->find(' '));
        if (word == ":cell" || word == ":io" || word == ":state" || word == ":gnss") first.emplace(word, *line);
    }
    const std::string& cell = first[":cell"];
    const auto cellFields = Split(cell.substr(6), ' ');
    ASSERT_GE(cellFields.size(), 5u) << cell;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(IsInteger(cellFields[static_cast<std::size_t>(i)])) << cell;
    EXPECT_EQ(cell.back(), '"') << cell;

    const std::string& io = first[":io"];
    const auto ioFields = Split(io.substr(4), ' ');
    ASSERT_EQ(ioFields.size(), 3u) << io;
    EXPECT_EQ(ioFields[0].back(), 'V');
    EXPECT_EQ(ioFields[2], "1");

    const std::string& state = first[":state"];
    const std::string word = state.substr(7, state.find(',') - 7);
    const std::set<std::string> levels{"connected", "online", "approved", "not approved", "registered",
                                       "reg. pending", "not registered"};
    EXPECT_TRUE(levels.count(word)) << state;

    // Southern and eastern hemisphere: the letters carry the sign.
    const std::string& gnss = first[":gnss"];
    const auto parts = Split(gnss.substr(6), ',');
    ASSERT_EQ(parts.size(), 4u) << gnss;
    EXPECT_EQ(parts[1].back(), 'S');
    EXPECT_NEAR(std::atof(parts[1].c_str()), 33.85, 0.01);
    EXPECT_EQ(parts[2].back(), 'E');
    EXPECT_NEAR(std::atof(parts[2].c_str()), 151.2, 0.01);
    const auto words = Split(parts[3].substr(1), ' ');
    ASSERT_EQ(words.size(), 3u) << gnss;
    EXPECT_TRUE(IsInteger(words[0]));
    EXPECT_EQ(words[2], "valid");

    // After "%show_off" is acknowledged no stream report may follow.
    ASSERT_TRUE(sim->Send("%show_off"));
    ASSERT_TRUE(sim->WaitFor("OK show_off"));
    ASSERT_TRUE(sim->Send("%info"));
    std::vector<std::string> between;
    ASSERT_TRUE(sim->WaitFor("OK info", &between));
    EXPECT_TRUE(between.empty()) << between.front();
}

TEST(GatewaySim, LockedSimReportsLockedUntilThePinIsWritten) {
    auto sim = StartSim({"--sim", "locked", "--sim-pin", "4321"});
    ASSERT_TRUE(sim->Send("%show_cell 1"));
    ASSERT_TRUE(sim->WaitFor(":sim 2"));
    ASSERT_TRUE(sim->Send("%par_set 61 4321"));
    EXPECT_TRUE(sim->WaitFor(":sim 1"));
}

TEST(GatewaySim, CommandSplitAcrossWritesAndLineFeedsAreHandled) {
    auto sim = StartSim({});
    ASSERT_TRUE(sim->SendRaw("%in"));
    ASSERT_TRUE(sim->SendRaw("fo\r\n%par_get 9"));
    ASSERT_TRUE(sim->SendRaw("7\r"));
    EXPECT_EQ(sim->NextAcknowledgement(), "OK info");
    EXPECT_EQ(sim->NextAcknowledgement(), "OK par_get");
}

TEST(GatewaySim, SplitWritesArriveInPiecesThatStillFormLines) {
    auto sim = StartSim({"--split", "3", "--split-gap", "10"});
    const int before = sim->ReadCalls();
    ASSERT_TRUE(sim->Send("%info"));
    EXPECT_EQ(sim->NextLine(), "OK info");
    const auto info = sim->NextLine();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rfind(":info QEL", 0), 0u);
    // Pauses between three-byte pieces: one read cannot have taken both lines at once.
    EXPECT_GT(sim->ReadCalls() - before, 2);
}

TEST(GatewaySim, AcknowledgementsCanBeWithheldAndRestored) {
    auto sim = StartSim({"--no-ack", "--control", "@DIR@/control"});
    // The acknowledgement would precede the report; the report alone proves it withheld.
    ASSERT_TRUE(sim->Send("%info"));
    auto first = sim->NextLine();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rfind(":info ", 0), 0u) << *first;

    sim->Signal(SIGUSR1);
    ASSERT_TRUE(sim->Send("%info"));
    EXPECT_EQ(sim->NextLine(), "OK info");
    ASSERT_TRUE(sim->WaitFor(":info "));

    {
        std::ofstream control(sim->Folder() + "/control");
        control << "ack off\n";
    }
    ASSERT_TRUE(sim->Send("%par_get 97"));
    EXPECT_EQ(sim->NextLine(), ":get 97 internet");
}

TEST(GatewaySim, BusyGatewayAnswersACommandAndItsRepeatBackToBack) {
    auto sim = StartSim({"--busy", "400"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim->Send("%par_get 97"));
    ASSERT_TRUE(sim->Send("%par_get 97")); // the monitor's retransmission
    ASSERT_TRUE(sim->Send("%info"));
    const std::vector<std::string> expected = {"OK par_get", ":get 97 internet", "OK par_get", ":get 97 internet",
                                               "OK info"};
    for (const std::string& line : expected) EXPECT_EQ(sim->NextLine(), line);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(GatewaySim, RestartIsSilentThenAnnounced) {
    auto sim = StartSim({"--reboot-ms", "300"});
    ASSERT_TRUE(sim->Send("%reboot"));
    EXPECT_EQ(sim->NextAcknowledgement(), "OK reboot");
    // A command sent while the gateway restarts is lost, as on the real line.
    ASSERT_TRUE(sim->Send("%info"));
    const auto next = sim->NextLine();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->rfind(":boot QEL", 0), 0u) << *next;
    ASSERT_TRUE(sim->Send("%info"));
    EXPECT_EQ(sim->NextLine(), "OK info");
}

TEST(GatewaySim, HangupEndsTheLineAndRemovesTheLink) {
    auto sim = StartSim({"--hangup-after", "200"});
    ASSERT_TRUE(sim->Send("%info"));
    ASSERT_TRUE(sim->WaitFor("OK info"));
    while (sim->NextLine()) {
    }
    EXPECT_TRUE(sim->HungUp());
    EXPECT_EQ(sim->WaitExit(), 0);
    struct stat st {};
    EXPECT_NE(lstat(sim->LinkPath().c_str(), &st), 0);
}

TEST(GatewaySim, ReplugPublishesAFreshPortUnderTheSameLink) {
    auto sim = StartSim({"--replug-after", "100", "--control", "@DIR@/control"});
    ASSERT_TRUE(sim->Send("%info"));
    ASSERT_TRUE(sim->WaitFor("OK info"));
    {
        std::ofstream control(sim->Folder() + "/control");
        control << "hangup\n";
    }
    while (sim->NextLine()) {
    }
    EXPECT_TRUE(sim->HungUp());
    EXPECT_EQ(sim->NextStdoutLine().rfind("/dev/pts/", 0), 0u);
    ASSERT_TRUE(sim->OpenPort());
    ASSERT_TRUE(sim->Send("%info"));
    EXPECT_EQ(sim->NextAcknowledgement(), "OK info");
}

TEST(GatewaySim, LogHoldsEveryReceivedLineAndScriptLinesArrive) {
    char scriptPath[] = "/tmp/gwsim-script-XXXXXX";
    const int fd = mkstemp(scriptPath);
    ASSERT_GE(fd, 0);
    const std::string script = "# staged line faults\n"
                               "0 :sim 2\n"
                               "+20 @raw :par\n"
                               "+20 @raw tial\\r\\n\n";
    ASSERT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(fd);

    auto sim = StartSim({"--log", "@DIR@/received.log", "--script", scriptPath});
    unlink(scriptPath);
    EXPECT_EQ(sim->NextLine(), ":sim 2");
    EXPECT_EQ(sim->NextLine(), ":partial"); // one line written in two pieces

    ASSERT_TRUE(sim->SendRaw("\n%par_get 97\r"));
    ASSERT_TRUE(sim->Send("%par_set 5640 My Net"));
    ASSERT_TRUE(sim->WaitFor("OK par_set"));
    std::ifstream log(sim->Folder() + "/received.log");
    std::string a, b;
    std::getline(log, a);
    std::getline(log, b);
    EXPECT_EQ(a, "%par_get 97");
    EXPECT_EQ(b, "%par_set 5640 My Net");
}

TEST(GatewaySim, ReplacesAStaleLinkButNeverAFile) {
    // A link left behind by a killed simulator is taken over, and removed at exit.
    SimProcess sim({}, [](const std::string& folder) { symlink("/dev/pts/no-such-pty", (folder + "/com1").c_str()); });
    const std::string slave = sim.NextStdoutLine();
    ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(std::filesystem::read_symlink(sim.LinkPath()).string(), slave);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(), 0);
    struct stat st {};
    EXPECT_NE(lstat(sim.LinkPath().c_str(), &st), 0);

    // A regular file under that name is somebody's data: refuse and leave it alone.
    SimProcess refused({}, [](const std::string& folder) { std::ofstream(folder + "/com1") << "data"; });
    EXPECT_EQ(refused.NextStdoutLine(), "");
    EXPECT_EQ(refused.WaitExit(), 1);
    EXPECT_TRUE(lstat(refused.LinkPath().c_str(), &st) == 0 && S_ISREG(st.st_mode));
}
