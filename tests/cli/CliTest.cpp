// lctrovi's commands as a user runs them: exit status, standard output and error, and what
// the simulated receiver saw.
#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "CliFixture.h"
#include "config/Configmsg.h"

namespace {
namespace fs = std::filesystem;

const char* const kMissingDevice = "/dev/lct-no-such-device";

TEST_F(CliTest, VersionAndEveryCommandsHelpAnswer) {
    const ChildResult version = Lctrovi({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lctrovi 1.01\n");
    for (const std::string command : {"ports", "detect", "monitor", "record", "replay", "accuracy", "export",
                                      "config", "info", "calibrate", "load"}) {
        const ChildResult help = Lctrovi({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("Usage: lctrovi " + command), std::string::npos) << help.out;
    }
    EXPECT_EQ(Lctrovi({"--help"}).status, 0);
}

TEST_F(CliTest, AWrongCommandLineIsRefusedWithStatusTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* complaint;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"info", "--frobnicate"}, "unknown option --frobnicate"},
        {{"info"}, "--device is required"},
        {{"info", "--device", "x", "--baud", "fast"}, "invalid baud rate"},
        {{"detect", "--baud", "57600"}, "not 57600"},
        {{"monitor", "--device", "x", "--seconds", "-1"}, "invalid number of seconds"},
        {{"config", "--device", "x"}, "config get or config set"},
        {{"load", "--device", "x"}, "one FILE"},
        {{"info", "--device"}, "needs a value"},
        {{"record", "--device", "x"}, "--out FILE is required"},
        {{"replay"}, "one FILE"},
        {{"replay", "x.rec", "--speed", "0"}, "invalid speed"},
        {{"config", "--device", "x", "apply"}, "needs one FILE"},
        {{"config", "--device", "x", "apply", "/nonexistent.json"}, "Error reading setup file"},
        {{"accuracy"}, "--device D or one FILE"},
        {{"accuracy", "--device", "x", "a.rec"}, "--device D or one FILE"},
        {{"accuracy", "a.rec", "--seconds", "5"}, "--device D or one FILE"},
        {{"accuracy", "a.rec", "--reference", "91,0,0"}, "latitude is out of range"},
        {{"accuracy", "a.rec", "--reference", "48.1,11.5"}, "LAT,LON,HEIGHT"},
        {{"export", "a.rec"}, "one FILE and --out OUT"},
        {{"export", "a.rec", "--out", "track.txt"}, "give --format gpx, kml or csv"},
        {{"export", "a.rec", "--out", "track.gpx", "--format", "shp"}, "invalid format shp"},
    };
    for (const Case& c : cases) {
        const ChildResult result = Lctrovi(c.args);
        EXPECT_EQ(result.status, 2) << c.complaint;
        EXPECT_NE(result.err.find(c.complaint), std::string::npos) << result.err;
    }
}

TEST_F(CliTest, EveryCommandThatTalksToAReceiverFailsOnAPortThatCannotBeOpened) {
    const std::vector<std::vector<std::string>> commands = {
        {"monitor", "--seconds", "1"},
        {"accuracy", "--seconds", "1"},
        {"config", "get"},
        {"config", "set", "height=80"},
        {"info"},
        {"calibrate"},
        {"load", "image.hex"},
    };
    const std::string image = ScratchFile("image.hex");
    std::ofstream(image) << "S3090002000001020304EA\r\n";  // sound: the load gets as far as the port
    for (std::vector<std::string> args : commands) {
        if (args.back() == "image.hex") {
            args.back() = image;
        }
        args.insert(args.begin() + 1, {"--device", kMissingDevice});
        const ChildResult result = Lctrovi(args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_NE(result.err.find(std::string("Error opening device ") + kMissingDevice), std::string::npos)
            << result.err;
    }
}

TEST_F(CliTest, EveryCommandThatTalksToAReceiverFailsWhenItDoesNotAnswer) {
    SimOptions options;
    options.faults.silent = true;
    StartSim(options);
    const std::vector<std::vector<std::string>> commands = {
        {"monitor"}, {"config", "get"}, {"config", "set", "height=80"}, {"info"}, {"calibrate"},
    };
    for (const auto& args : commands) {
        const ChildResult result = Lctrovi(AtSim(args), "\n\n");
        EXPECT_FALSE(result.timedOut) << args[0];
        EXPECT_EQ(result.status, 1) << args[0];
        const std::string complaint =
            args[0] == "monitor" ? "Nothing received on " : "Receiver does not answer on ";
        EXPECT_NE(result.err.find(complaint + sim->DevicePath() + " at 19200 baud"), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(sim->Settings().lcHeight, SimSettings{}.lcHeight);
}

TEST_F(CliTest, PortsListsTheSerialDevicesWithTheirUsbDescription) {
    const fs::path root = ScratchFile("sys");
    const fs::path usb = root / "devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0/driver");
    std::ofstream(usb / "idVendor") << "0403\n";
    std::ofstream(usb / "idProduct") << "6001\n";
    std::ofstream(usb / "manufacturer") << "FTDI\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    fs::create_directories(root / "devices/platform/serial8250/ttyS0/driver");
    fs::create_directories(root / "tty/ttyUSB0");
    fs::create_directories(root / "tty/ttyS0");
    fs::create_directories(root / "tty/tty1");  // a console: no device, not listed
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root / "tty/ttyUSB0/device");
    fs::create_directory_symlink(root / "devices/platform/serial8250/ttyS0", root / "tty/ttyS0/device");

    const ChildResult listed = Lctrovi({"ports", "--sysfs", (root / "tty").string()});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "ttyS0\nttyUSB0\t0403:6001 FTDI FT232R USB UART\n");

    const ChildResult none = Lctrovi({"ports", "--sysfs", (root / "missing").string()});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No serial ports found\n");
}

TEST_F(CliTest, DetectFindsTheReceiverAtItsRateAndReportsFailureOtherwise) {
    SimOptions options;
    options.settings.baudRate = 9600;
    StartSim(options);
    const ChildResult found = Lctrovi({"detect", "--device", sim->DevicePath()});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, sim->DevicePath() + " 9600\n");
    // Rates are tried in the dialog's order, and the search stops at the first answer.
    EXPECT_EQ(found.err,
              "Attempting " + sim->DevicePath() + " at 4800\nAttempting " + sim->DevicePath() + " at 9600\n");

    const ChildResult wrongRate = Lctrovi({"detect", "--device", sim->DevicePath(), "--baud", "38400"});
    EXPECT_EQ(wrongRate.status, 1);
    EXPECT_NE(wrongRate.err.find("Failed to find unit."), std::string::npos);

    const ChildResult missing = Lctrovi({"detect", "--device", kMissingDevice, "--baud", "9600"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("Error opening device"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("Failed to find unit."), std::string::npos);
}

TEST_F(CliTest, DetectReportsEachDeviceItCannotOpenAndGoesOnWithTheNext) {
    StartSim();
    const std::string missing = kMissingDevice;
    const ChildResult found =
        Lctrovi({"detect", "--device", missing + "," + sim->DevicePath(), "--baud", "19200"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, sim->DevicePath() + " 19200\n");
    EXPECT_EQ(found.err.find("Error opening device " + missing + ": "), 0u) << found.err;
    EXPECT_NE(found.err.find("\nAttempting " + sim->DevicePath() + " at 19200\n"), std::string::npos)
        << found.err;

    const ChildResult none = Lctrovi({"detect", "--device", missing + "," + missing + "-2"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(std::regex_match(
        none.err, std::regex("Error opening device " + missing + ": .*\nError opening device " + missing +
                             "-2: .*\nFailed to find unit.\n")))
        << none.err;
}

TEST_F(CliTest, DetectDoesNotTakeAReceiverThatAnswersWithId255) {
    SimOptions options;
    options.faults.reject255 = true;
    options.settings.nmeaMask = 0;
    StartSim(options);
    const ChildResult result = Lctrovi({"detect", "--device", sim->DevicePath(), "--baud", "19200"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Failed to find unit."), std::string::npos);
}

TEST_F(CliTest, MonitorShowsStampedLinesAndLogsTheSentencesAsTheWindowDoes) {
    SimOptions options;
    options.recordPath.clear();
    StartSim(options);
    const std::string log = ScratchFile("nmea.txt");
    const ChildResult result = Lctrovi(AtSim({"monitor", "--seconds", "3", "--log", log}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::regex shown(R"(\d\d:\d\d:\d\d: (\$GP(GGA|RMC),.*))");
    std::string expectedLog;
    for (const std::string& line : Lines(result.out)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shown)) << line;
        expectedLog += match[1].str() + "\r\n";
    }
    EXPECT_GE(Lines(result.out).size(), 2u);
    EXPECT_EQ(ReadFile(log), expectedLog);
}

// Bytes that make no shown line still show that the receiver talks: sentences of other
// talkers only, or sentences whose line never ends. Monitor runs on past the silence limit.
TEST_F(CliTest, MonitorKeepsListeningToAReceiverThatSendsNothingItShows) {
    for (const bool otherTalkers : {true, false}) {
        SimOptions options;
        options.faults.otherTalkersOnly = otherTalkers;
        options.faults.noLineEnds = !otherTalkers;
        StartSim(options);
        const ChildResult result = Lctrovi(AtSim({"monitor", "--seconds", "7"}));
        EXPECT_EQ(result.status, 0) << (otherTalkers ? "other talkers: " : "no line ends: ") << result.err;
        EXPECT_EQ(result.out, "");
        sim->Stop();
    }
}

TEST_F(CliTest, MonitorShowsBinaryMessagesAsProprietaryIds) {
    SimOptions options;
    options.settings.nmeaMask = 0;  // the receiver then sends frames of its own
    options.timing.statusIntervalMs = 300;
    StartSim(options);
    const ChildResult result = Lctrovi(AtSim({"monitor", "--seconds", "2"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::regex_search(result.out, std::regex(R"(\d\d:\d\d:\d\d: Proprietary ID \d+\n)")))
        << result.out;
}

TEST_F(CliTest, MonitorRefusesALogFileItCannotOpen) {
    StartSim();
    const ChildResult result =
        Lctrovi(AtSim({"monitor", "--seconds", "1", "--log", "/nonexistent-dir/x.txt"}));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error opening log file /nonexistent-dir/x.txt\n");
}

TEST_F(CliTest, ConfigGetPrintsEverySettingPlainAndAsJson) {
    SimOptions options;
    options.settings.altFreqInUse = 1;
    options.settings.altChannel = 1000;
    options.settings.lcHeight = 72;
    StartSim(options);
    const ChildResult plain = Lctrovi(AtSim({"config", "get"}));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(
        plain.out,
        "version=1.0SIM\nbaud=19200\nnmea=GGA,RMC\nrate=1\nwaas=on\ncorrections=on\nfrequency=" +
            FormatGeneral(ChannelToMHz(1000)) +
            "\ntcm=on\nheight=72\nforeaft=12\nforeaft-editable=yes\ndirection=forward\ncalibrated=no\n");

    const ChildResult json = Lctrovi(AtSim({"config", "get", "--json"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto fields = ParseFlatJson(json.out);
    ASSERT_EQ(fields.size(), 13u) << json.out;
    EXPECT_EQ(fields.at("height"), "72");
    EXPECT_EQ(fields.at("nmea"), "GGA,RMC");
    EXPECT_EQ(fields.at("version"), "1.0SIM");
}

TEST_F(CliTest, ConfigSetChangesTheNamedSettingsAndKeepsTheRest) {
    StartSim();
    const ChildResult result =
        Lctrovi(AtSim({"config", "set", "height=80", "nmea=GGA,VTG", "waas=off", "direction=backward"}));
    ASSERT_EQ(result.status, 0) << result.err;
    const SimSettings s = sim->Settings();
    EXPECT_EQ(s.lcHeight, 80);
    EXPECT_EQ(s.nmeaMask, config::kMaskGGA | config::kMaskVTG);
    EXPECT_EQ(s.waasOn, 0);
    EXPECT_EQ(s.tcmForward, 0);
    EXPECT_EQ(s.lcForeAft, SimSettings{}.lcForeAft);
    EXPECT_EQ(s.tcmOn, SimSettings{}.tcmOn);
    // The settings printed afterwards are the receiver's, read back.
    EXPECT_NE(result.out.find("height=80\n"), std::string::npos);
    EXPECT_NE(result.out.find("waas=off\n"), std::string::npos);
}

TEST_F(CliTest, ConfigSetFollowsABaudChangeWithThePcPort) {
    StartSim();
    const ChildResult result = Lctrovi(AtSim({"config", "set", "baud=38400"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sim->Settings().baudRate, 38400u);
    EXPECT_NE(result.out.find("baud=38400\n"), std::string::npos);  // read back at the new rate
    const ChildResult back = Lctrovi(AtSim({"config", "get", "--baud", "38400"}));
    EXPECT_EQ(back.status, 0) << back.err;
}

TEST_F(CliTest, ConfigSetRefusesWhatTheSetupDialogRefusesAndSendsNothing) {
    StartSim();
    struct Case {
        std::string assignment;
        std::string message;
    };
    const Case cases[] = {
        {"height=0", kHeightMessage},
        {"height=201", kHeightMessage},
        {"foreaft=abc", kForeAftMessage},
        {"frequency=abc", "'abc' is not a valid floating point value"},
        {"frequency=-1", "frequency: -1 is out of range (1525 to 1560 MHz)"},
        {"frequency=0", "frequency: 0 is out of range (1525 to 1560 MHz)"},
        {"frequency=1e9", "frequency: 1e9 is out of range (1525 to 1560 MHz)"},
        {"baud=57600", "invalid value 57600 for baud (4800, 9600, 19200, 38400)"},
        {"rate=2", "invalid value 2 for rate (1 or 5)"},
        {"version=9.9", "version is read-only: the receiver has version=1.0SIM"},
        {"calibrated=yes", "calibrated is read-only: the receiver has calibrated=no"},
        {"nmea=GGA,XYZ", "invalid value GGA,XYZ for nmea"},
        {"colour=red", "unknown setting colour"},
        {"height", "expected KEY=VALUE"},
    };
    for (const Case& c : cases) {
        const ChildResult result = Lctrovi(AtSim({"config", "set", "waas=off", c.assignment}));
        EXPECT_EQ(result.status, 2) << c.assignment;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(sim->Settings(), SimSettings{});
}

// Every line config get prints is taken back by config set, read-only keys and values that
// config set would not take from a user (a frequency outside the correction band) included.
TEST_F(CliTest, ConfigSetTakesBackWhatConfigGetPrinted) {
    SimOptions outOfBand;
    outOfBand.settings.altFreqInUse = 1;
    outOfBand.settings.altChannel = -100'000;  // 1475 MHz
    for (const SimOptions& options : {SimOptions{}, outOfBand}) {
        StartSim(options);
        const ChildResult got = Lctrovi(AtSim({"config", "get"}));
        ASSERT_EQ(got.status, 0) << got.err;
        std::vector<std::string> args = {"config", "set"};
        for (const std::string& line : Lines(got.out)) {
            args.push_back(line);
        }
        const ChildResult set = Lctrovi(AtSim(args));
        EXPECT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(set.out, got.out);
        EXPECT_EQ(sim->Settings(), options.settings);
        sim->Stop();
    }
}

TEST_F(CliTest, InfoPrintsTheHardwareIdentityPlainAndAsJson) {
    StartSim();
    const ChildResult plain = Lctrovi(AtSim({"info"}));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "serial=5200417\npart=LT-2000-0100\nversion=3\ncompatibility=C0102\n");
    const ChildResult json = Lctrovi(AtSim({"info", "--json"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto fields = ParseFlatJson(json.out);
    EXPECT_EQ(
        fields,
        (std::map<std::string, std::string>{
            {"serial", "5200417"}, {"part", "LT-2000-0100"}, {"version", "3"}, {"compatibility", "C0102"}}))
        << json.out;
}

TEST_F(CliTest, InfoFailsWhenTheHardwareMessageIsNotAnswered) {
    SimOptions options;
    options.faults.noReplyTo = {msgid::kHardware};
    StartSim(options);
    const ChildResult result = Lctrovi(AtSim({"info"}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Receiver does not answer"), std::string::npos);
}

SimOptions QuickCalibration() {
    SimOptions options;
    options.timing.calibrationMs = 300;
    options.calibrationValue = 100;
    return options;
}

TEST_F(CliTest, CalibrateRunsBothPositionsAndShowsTheResult) {
    StartSim(QuickCalibration());
    const ChildResult result = Lctrovi(AtSim({"calibrate"}), "\n\n");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const std::string expectedOrder[] = {
        "Park vehicle on a hard flat surface.\nPress Continue to calibrate the TCM.\n",
        "Please Wait\nCalibrating...\n",
        "Position vehicle in the opposite direction\n  at the same location.\nPress continue when ready.\n",
        "Please Wait\nCalibrating...\n",
        "TCM calibration complete.\n0 degree  Calibration Value:\n        9\n",
    };
    size_t at = 0;
    for (const std::string& text : expectedOrder) {
        at = result.out.find(text, at);
        ASSERT_NE(at, std::string::npos) << "missing in order: " << text << "\n" << result.out;
    }
    EXPECT_EQ(sim->Settings().tcmCalibrated, 1);
}

TEST_F(CliTest, CalibrateCancelledOrRefusedEndsWithStatusOne) {
    struct Case {
        bool moving;
        std::string input;
        std::string shown;
        size_t prompts;  // a line that is not an answer offered asks again
    };
    const Case cases[] = {
        {false, "c\n", "TCM level calibration process aborted/failed.", 1},
        {false, "", "TCM level calibration process aborted/failed.", 1},  // end of input cancels
        {false, "x\nyes\nc\n", "TCM level calibration process aborted/failed.", 3},
        {true, "\nc\n", "The vehicle must be stopped to calibrate.", 2},
        {true, "\n\nc\n", "The vehicle must be stopped to calibrate.", 3},  // Continue is not offered
    };
    for (const Case& c : cases) {
        SimOptions options = QuickCalibration();
        options.vehicleMoving = c.moving;
        StartSim(options);
        const ChildResult result = Lctrovi(AtSim({"calibrate"}), c.input);
        EXPECT_EQ(result.status, 1) << c.shown;
        EXPECT_NE(result.out.find(c.shown), std::string::npos) << result.out;
        EXPECT_EQ(static_cast<size_t>(std::count(result.out.begin(), result.out.end(), '[')), c.prompts)
            << c.input << result.out;
        EXPECT_EQ(sim->Settings().tcmCalibrated, 0);
        sim->Stop();
    }
}

}  // namespace
