// lctrovi config save and apply: one receiver's setup saved to a file and applied to another;
// a file that is refused sends nothing.
#include <fstream>
#include <sstream>

#include "CliFixture.h"
#include "config/Configmsg.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(CliTest, ASetupSavedFromOneReceiverIsAppliedToAnother) {
    SimOptions first;
    first.settings.lcHeight = 80;
    first.settings.waasOn = 0;
    first.settings.nmeaMask = config::kMaskGGA | config::kMaskVTG;
    first.settings.altFreqInUse = 1;
    first.settings.altChannel = 41000;
    first.version = {2, 5, "ab"};
    StartSim(first);
    const std::string file = ScratchFile("setup.json");
    const ChildResult saved = Lctrovi(AtSim({"config", "save", file}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(ReadFile(file).find("\"receiver_software\": \"2.5ab\""), std::string::npos) << ReadFile(file);
    sim->Stop();

    StartSim();
    const ChildResult applied = Lctrovi(AtSim({"config", "apply", file}));
    ASSERT_EQ(applied.status, 0) << applied.err;
    EXPECT_EQ(applied.out,
              "nmea: GGA,RMC -> GGA,VTG\nwaas: on -> off\nfrequency: default -> 1545.5\nheight: 60 -> 80\n");
    const SimSettings now = sim->Settings();
    EXPECT_EQ(now.baudRate, 19200u);
    EXPECT_EQ(now.lcHeight, 80);
    EXPECT_EQ(now.waasOn, 0);
    EXPECT_EQ(now.nmeaMask, first.settings.nmeaMask);
    EXPECT_EQ(now.altChannel, 41000);

    // Applied again: nothing differs, nothing is printed or sent.
    sim->ClearRecord();
    const ChildResult again = Lctrovi(AtSim({"config", "apply", file}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "");
    const auto settingsReceived = [&] {
        int count = 0;
        for (const SimRecordEntry& entry : sim->Record()) {
            count += entry.direction == SimDirection::kReceived && entry.kind == SimKind::kFrame &&
                     entry.bytes.size() > frame::kIdOffset && entry.bytes[frame::kIdOffset] == msgid::kConfig;
        }
        return count;
    };
    EXPECT_EQ(settingsReceived(), 0);

    // A refused file: the key named, status 2, the receiver's settings untouched.
    std::string text = ReadFile(file);
    text.replace(text.find("\"height\": 80"), 12, "\"height\": 201");
    std::ofstream(file, std::ios::binary) << text;
    const ChildResult refused = Lctrovi(AtSim({"config", "apply", file}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("refused: settings.height: 201 is out of range (1 to 200)"), std::string::npos)
        << refused.err;
    EXPECT_EQ(sim->Settings(), now);
    EXPECT_EQ(settingsReceived(), 0);
}

// A file that gives nothing to read says why, before the port is opened; a byte-order mark
// before the text is skipped.
TEST_F(CliTest, ConfigApplySaysWhyAFileGivesNothingToRead) {
    StartSim();
    const std::string saved = ScratchFile("saved.json");
    ASSERT_EQ(Lctrovi(AtSim({"config", "save", saved})).status, 0);
    const std::string marked = ScratchFile("marked.json");
    std::ofstream(marked, std::ios::binary) << "\xEF\xBB\xBF" << ReadFile(saved);
    const std::string empty = ScratchFile("empty.json");
    std::ofstream(empty, std::ios::binary) << "";
    const std::string folder = ScratchFile("folder");
    std::filesystem::create_directory(folder);
    const std::string missing = ScratchFile("missing.json");
    const std::pair<std::string, std::string> cases[] = {
        {marked, ""},
        {missing, "Error reading setup file " + missing + ": No such file or directory\n"},
        {empty, "Error reading setup file " + empty + ": it is empty\n"},
        {folder, "Error reading setup file " + folder + ": it is a folder\n"},
    };
    for (const auto& [path, complaint] : cases) {
        const ChildResult result = Lctrovi(AtSim({"config", "apply", path}));
        EXPECT_EQ(result.status, complaint.empty() ? 0 : 2) << path;
        EXPECT_EQ(result.err, complaint);
    }
}
}  // namespace
