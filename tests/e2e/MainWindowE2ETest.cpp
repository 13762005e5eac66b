// Every sentence the receiver sends is shown and logged exactly once, in order, and nothing
// else is, also while binary frames are interleaved with the sentences.
#include <unistd.h>
#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "E2EFixture.h"
#include "proto/Frame.h"
#include "proto/Messages.h"

namespace {

std::vector<std::string> ShownLines() {
    std::vector<std::string> out;
    for (const QString& line : FormMain->Memo()->toPlainText().split('\n', Qt::SkipEmptyParts)) {
        out.push_back(line.mid(10).toStdString());
    }
    return out;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

bool IsShownSentence(const std::string& s) {
    return s.rfind("$GP", 0) == 0 || s.rfind("$PN", 0) == 0;
}

TEST_F(E2ETest, EverySentenceIsShownAndLoggedOnceInOrderWithFramesInterleaved) {
    SimOptions options;
    options.settings.baudRate = 38400;
    options.settings.nmeaMask = 0x3F;
    options.settings.nmeaRate = 5;
    options.faults.silent = true;  // quiet until the port is open, so nothing is lost before
    StartSim(options);

    FormPort->ComboBoxBaudRate()->setCurrentIndex(3);
    FormPort->ButtonApplyClick();
    ASSERT_TRUE(Link().line.IsOpen());

    const std::string log =
        std::filesystem::temp_directory_path() / ("lct-e2e-" + std::to_string(getpid()) + ".txt");
    FormMain->chooseLogFile = [log] { return QString::fromStdString(log); };
    FormMain->MenuFileLoggingClick();
    ASSERT_TRUE(FormMain->logging);

    sim->ClearRecord();
    SimFaults talking = sim->Faults();
    talking.silent = false;
    sim->SetFaults(talking);
    // Requests now and then make the receiver answer with frames between its sentences.
    for (int i = 0; i < 6; ++i) {
        uint8_t request[request::kFrameLength];
        build_request_frame(i % 2 == 0 ? msgid::kConfig : msgid::kHardware, request::kStandardMode, 0,
                            request);
        Link().line.Write(request, sizeof request);
        RunFor(400);
    }
    sim->SetFaults(options.faults);  // silent again; let the program read what is on the way
    RunFor(600);
    FormMain->MenuFileLoggingClick();

    std::vector<std::string> sentences;
    std::vector<std::string> display;
    int frames = 0;
    for (const SimRecordEntry& e : sim->Record()) {
        if (e.direction != SimDirection::kSent) {
            continue;
        }
        ASSERT_FALSE(e.damaged);
        if (e.kind == SimKind::kFrame) {
            display.push_back("Proprietary ID " + std::to_string(e.bytes[frame::kIdOffset]));
            ++frames;
            continue;
        }
        std::string s(e.bytes.begin(), e.bytes.end() - 2);  // without CR LF
        if (IsShownSentence(s)) {
            sentences.push_back(s);
            display.push_back(s);
        }
    }
    ASSERT_GT(sentences.size(), 50u);
    ASSERT_GE(frames, 6);
    EXPECT_EQ(FileLines(log), sentences);
    const auto shown = ShownLines();
    ASSERT_EQ(static_cast<int>(shown.size()), FormMain->maxLines);
    EXPECT_EQ(shown,
              std::vector<std::string>(display.end() - static_cast<long>(shown.size()), display.end()));
    EXPECT_EQ(FormMain->messageCount, static_cast<int>(display.size()));
    std::filesystem::remove(log);
}

}  // namespace
