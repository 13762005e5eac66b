#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <map>

#include "ui/Helpform.h"
#include "ui/Helppictures.h"
#include "ui/Scaleutils.h"

namespace {

const QRect kCaller(100, 100, 650, 612);

void Click(QWidget* widget, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

void Click(QWidget* widget) {
    Click(widget, widget->rect().center());
}

QWidget* Control(const TFormHelp& help, const char* name) {
    return help.findChild<QWidget*>(QString::fromLatin1(name));
}

void ExpectButtonsAtTheBottom(const TFormHelp& help) {
    for (const QPushButton* button : {help.ButtonBack(), help.ButtonClose()}) {
        EXPECT_EQ(button->size(), QSize(75, 25));
        EXPECT_EQ(button->x(), std::max(0, (help.width() - 75) / 2));
        EXPECT_EQ(button->y(), help.height() - 25 - 40);
    }
}

void ExpectContentsPage(const TFormHelp& help) {
    EXPECT_EQ(help.size(), QSize(400, 495));
    EXPECT_EQ(help.windowTitle(), "Help");
    for (QLabel* link : help.Links()) {
        EXPECT_FALSE(link->isHidden()) << link->objectName().toStdString();
    }
    for (QWidget* control : help.TopicControls()) {
        EXPECT_TRUE(control->isHidden()) << control->objectName().toStdString();
    }
    EXPECT_TRUE(help.ButtonBack()->isHidden());
    EXPECT_FALSE(help.ButtonClose()->isHidden());
    ExpectButtonsAtTheBottom(help);
}

TEST(HelpWindow, ContentsPageListsTheTenLinksInOrder) {
    TFormHelp help;
    help.ShowContents(kCaller);
    EXPECT_TRUE(help.isVisible());
    ExpectContentsPage(help);
    const QStringList captions = {
        "Connection Instructions", "12 Pin Connector Wiring", "Software Loading Instructions",
        "Logging Files",           "NMEA Message (GGA)",      "NMEA Message (GSA)",
        "NMEA Message (VTG)",      "NMEA Message (ZDA)",      "NMEA Message (RMC)",
        "NMEA Message (SNR)"};
    const std::vector<QLabel*> links = help.Links();
    ASSERT_EQ(links.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        const QLabel* link = links[i];
        EXPECT_EQ(link->text(), captions[i]);
        EXPECT_EQ(link->pos(), QPoint(36, 40 + 32 * i));
        EXPECT_EQ(link->font().pixelSize(), 20);
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_LE(link->x() + link->width(), help.width()) << "clipped: " << captions[i].toStdString();
        if (i > 0) {
            EXPECT_LE(links[i - 1]->geometry().bottom(), link->y())
                << "overlaps: " << captions[i].toStdString();
        }
    }
    help.ButtonCloseClick();
    EXPECT_FALSE(help.isVisible());
}

TEST(HelpWindow, OnlyALeftClickOnTheWordsOfALinkOpensItsTopic) {
    TFormHelp help;
    help.ShowContents(kCaller);
    QLabel* link = help.Links()[4];
    QMouseEvent right(QEvent::MouseButtonRelease, link->rect().center(),
                      link->mapToGlobal(link->rect().center()), Qt::RightButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(link, &right);
    Click(link, QPoint(link->width() + 5, 5));  // released beside the words
    ExpectContentsPage(help);
    Click(link);
    EXPECT_EQ(help.windowTitle(), "Help - NMEA Message (GGA)");
}

struct TopicCase {
    int link = 0;
    const char* control = nullptr;
    const char* caption = nullptr;
    QSize controlSize;
};

TEST(HelpWindow, EachLinkOpensItsTopicAndBackReturnsToTheContents) {
    const TopicCase cases[] = {
        {0, "MemoConnection", "Help - Connection Instructions", {360, 341}},
        {1, "Image12", "Help - 12 Pin Connector Wiring", {400, 400}},
        {2, "MemoProgramming", "Help - Loading Software", {360, 341}},
        {3, "MemoLogging", "Help - File Logging", {360, 341}},
        {4, "ImageNMEAGGA", "Help - NMEA Message (GGA)", {685, 400}},
        {5, "ImageNMEAGSA", "Help - NMEA Message (GSA)", {670, 330}},
        {6, "ImageNMEAVTG", "Help - NMEA Message (VTG)", {420, 240}},
        {7, "ImageNMEAZDA", "Help - NMEA Message (ZDA)", {420, 240}},
        {8, "ImageNMEARMC", "Help - NMEA Message (RMC)", {610, 300}},
        {9, "ImageNMEASNR", "Help - NMEA Message (SNR)", {521, 361}},
    };
    TFormHelp help;
    help.ShowContents(kCaller);
    for (const TopicCase& c : cases) {
        SCOPED_TRACE(c.caption);
        Click(help.Links()[c.link]);
        const QWidget* control = Control(help, c.control);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(help.windowTitle(), c.caption);
        EXPECT_EQ(control->size(), c.controlSize);
        EXPECT_EQ(help.size(), QSize(c.controlSize.width() + 40, 495));
        EXPECT_EQ(control->pos(), QPoint(20, 20));
        for (QWidget* other : help.TopicControls()) {
            EXPECT_EQ(other->isHidden(), other != control) << other->objectName().toStdString();
        }
        for (QLabel* link : help.Links()) {
            EXPECT_TRUE(link->isHidden());
        }
        EXPECT_FALSE(help.ButtonBack()->isHidden());
        EXPECT_TRUE(help.ButtonClose()->isHidden());
        ExpectButtonsAtTheBottom(help);
        EXPECT_LT(control->geometry().bottom(), help.ButtonBack()->y()) << "the topic runs into the buttons";
        if (const auto* image = qobject_cast<const QLabel*>(control)) {
            EXPECT_EQ(image->pixmap().size(), c.controlSize);  // natural scale
            EXPECT_FALSE(image->hasScaledContents());
        }
        Click(help.ButtonBack());
        ExpectContentsPage(help);
    }
}

TEST(HelpWindow, MemosAreReadOnlyScrollBothWaysAndOnlyTheConnectionTextDoesNotWrap) {
    TFormHelp help;
    const std::pair<const char*, QPlainTextEdit::LineWrapMode> memos[] = {
        {"MemoConnection", QPlainTextEdit::NoWrap},
        {"MemoProgramming", QPlainTextEdit::WidgetWidth},
        {"MemoLogging", QPlainTextEdit::WidgetWidth},
    };
    for (const auto& [name, wrap] : memos) {
        const auto* memo = help.findChild<QPlainTextEdit*>(name);
        ASSERT_NE(memo, nullptr) << name;
        EXPECT_TRUE(memo->isReadOnly()) << name;
        EXPECT_EQ(memo->lineWrapMode(), wrap) << name;
        EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn) << name;
        EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn) << name;
        EXPECT_GT(memo->toPlainText().size(), 500) << name;
    }
}

TEST(HelpWindow, TheLoadingTopicShowsEveryStatusOfALoadInOrder) {
    TFormHelp help;
    const QString text = help.findChild<QPlainTextEdit*>("MemoProgramming")->toPlainText();
    const char* statuses[] = {"\"Started\"",
                              "\"Establishing Communication... 59\"",
                              "\"Established Communication with BootLoader.\"",
                              "\"Reading File Completed.\"",
                              "\"Sending File...\"",
                              "\"Sending File... (N)\"",
                              "\"Request CRC check.\"",
                              "\"Returned CRC of download image is 0\"",
                              "\"Sending START PROGRAMMING Command...\"",
                              "\"In Progress. (Please wait up to 5 minutes.)\"",
                              "\"Request CRC check.\"",
                              "\"CRC check passed.\"",
                              "\"Programming Done.  Cycle Power on Receiver.\"",
                              "\"Waiting for New Version Number... N\"",
                              "\"Communication Re-established. Ver # Rcvd.\"",
                              "\"Download Failed.\""};
    qsizetype from = 0;
    for (const char* status : statuses) {
        const qsizetype at = text.indexOf(QString::fromLatin1(status), from);
        EXPECT_GE(at, 0) << "missing or out of order: " << status;
        from = at < 0 ? from : at + 1;
    }
}

TEST(HelpWindow, OpenedFromTheLoadingDialogItOffersCloseInsteadOfBack) {
    TFormHelp help;
    help.ShowLoadingHelp(kCaller);
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.windowTitle(), "Help - Loading Instructions");
    EXPECT_EQ(help.size(), QSize(400, 495));
    EXPECT_FALSE(Control(help, "MemoProgramming")->isHidden());
    EXPECT_TRUE(help.ButtonBack()->isHidden());
    EXPECT_FALSE(help.ButtonClose()->isHidden());
    for (QLabel* link : help.Links()) {
        EXPECT_TRUE(link->isHidden());
    }
    Click(help.ButtonClose());
    EXPECT_FALSE(help.isVisible());
    help.ShowContents(kCaller);  // the next opening starts at the contents page
    ExpectContentsPage(help);
}

TEST(HelpWindow, APictureWiderThanTheWindowIsPinnedAtTheLeftEdge) {
    TFormHelp help;
    help.ShowContents(kCaller);
    help.LabelNMEAGGAClick();
    EXPECT_EQ(help.width(), 725);
    QWidget* image = Control(help, "ImageNMEAGGA");
    const struct {
        QSize window;
        int imageLeft = 0;
    } cases[] = {{{300, 495}, 0}, {{685, 495}, 0}, {{900, 600}, 107}, {{50, 200}, 0}};
    for (const auto& c : cases) {
        help.resize(c.window);
        QApplication::processEvents();
        EXPECT_EQ(image->pos(), QPoint(c.imageLeft, 20)) << c.window.width();
        ExpectButtonsAtTheBottom(help);
    }
    for (QLabel* link : help.Links()) {
        EXPECT_EQ(link->x(), 36);  // links stay where they are
    }
}

TEST(HelpWindow, OnlyTheFirstOpeningCentresItOverTheCaller) {
    TFormHelp help;
    EXPECT_FALSE(help.positioned);
    help.ShowContents(kCaller);
    EXPECT_TRUE(help.positioned);
    EXPECT_EQ(help.frameGeometry().topLeft(), CentredOver(kCaller, help.frameGeometry().size(), true));
    help.move(7, 9);
    help.ButtonCloseClick();
    help.ShowLoadingHelp(QRect(500, 300, 351, 261));
    EXPECT_EQ(help.pos(), QPoint(7, 9));
    help.ShowContents(kCaller);
    EXPECT_EQ(help.pos(), QPoint(7, 9));

    TFormHelp clamped;
    clamped.ShowLoadingHelp(QRect(-600, -600, 100, 100));
    EXPECT_EQ(clamped.frameGeometry().topLeft(), QPoint(0, 0));
}

bool HasInk(const QImage& image) {
    int dark = 0;
    int light = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            (qGray(image.pixel(x, y)) < 128 ? dark : light) += 1;
        }
    }
    return dark > 500 && light > dark;
}

bool Crosses(const QLine& line, const QRect& rect) {
    const QRect span = QRect(line.p1(), line.p2()).normalized();
    return span.intersects(rect) || rect.contains(line.p1()) || rect.contains(line.p2());
}

TEST(HelpPictures, EveryNmeaPictureHasItsSizeAndEveryFieldLabelledWithoutOverlap) {
    const std::pair<const char*, QSize> sizes[] = {{"GGA", {685, 400}}, {"GSA", {670, 330}},
                                                   {"VTG", {420, 240}}, {"ZDA", {420, 240}},
                                                   {"RMC", {610, 300}}, {"SNR", {521, 361}}};
    ASSERT_EQ(NmeaPictures().size(), 6u);
    for (const auto& [name, size] : sizes) {
        SCOPED_TRACE(name);
        const NmeaPicture& picture = NmeaPictureNamed(name);
        EXPECT_EQ(QString::fromLatin1(picture.name), name);
        const QImage image = DrawNmeaPicture(picture);
        EXPECT_EQ(image.size(), size);
        EXPECT_TRUE(HasInk(image));
        EXPECT_TRUE(image.allGray());  // monochrome

        const NmeaLayout layout = LayOutNmeaPicture(picture);
        ASSERT_TRUE(layout.fits);
        const size_t parts = picture.fields.size() + 1;  // and the checksum
        ASSERT_EQ(layout.labelRects.size(), parts);
        ASSERT_EQ(layout.numberRects.size(), parts);
        EXPECT_GE(layout.labelFontPx, 11);
        const QRect inside = QRect(QPoint(0, 0), size).adjusted(2, 2, -2, -2);
        EXPECT_TRUE(inside.contains(layout.sentenceRect));
        EXPECT_TRUE(inside.contains(layout.titleRect));
        std::vector<QRect> texts = layout.labelRects;
        texts.insert(texts.end(), layout.numberRects.begin(), layout.numberRects.end());
        texts.push_back(layout.sentenceRect);
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_TRUE(inside.contains(texts[i])) << i;
            for (size_t j = i + 1; j < texts.size(); ++j) {
                EXPECT_FALSE(texts[i].intersects(texts[j])) << i << " overlaps " << j;
            }
        }
        for (size_t i = 0; i < parts; ++i) {
            EXPECT_TRUE(
                layout.fieldRects[i].contains(layout.numberRects[i].center().x(), layout.fieldRects[i].y()))
                << "number " << i + 1 << " is not under its field";
            for (size_t j = 0; j < parts; ++j) {
                for (const QLine& leader : layout.leaders[j]) {
                    EXPECT_TRUE(j == i || !Crosses(leader, layout.numberRects[i])) << j << " crosses " << i;
                }
            }
        }
    }
}

TEST(HelpPictures, ExampleSentencesCarryTheirChecksum) {
    EXPECT_EQ(ExampleSentence(NmeaPictureNamed("ZDA")), "$GPZDA,201530.00,04,07,2026,00,00*66");
    for (const NmeaPicture& picture : NmeaPictures()) {
        const QString sentence = ExampleSentence(picture);
        EXPECT_TRUE(sentence.startsWith("$GP") || sentence.startsWith("$PN")) << picture.name;
        EXPECT_EQ(sentence.indexOf('*'), sentence.size() - 3) << picture.name;
    }
    EXPECT_EQ(ExampleSentence(NmeaPictureNamed("GSA")).count(','), 17);  // 12 satellite fields
    EXPECT_EQ(ExampleSentence(NmeaPictureNamed("GGA")).count(','), 14);
    EXPECT_EQ(ExampleSentence(NmeaPictureNamed("RMC")).count(','), 12);
}

TEST(HelpPictures, ConnectorPictureWiresTransmitToReceiveAndGroundToGround) {
    const QImage image = DrawConnectorPicture();
    EXPECT_EQ(image.size(), QSize(400, 400));
    EXPECT_TRUE(HasInk(image));
    ASSERT_EQ(ConnectorPins().size(), 12u);
    auto signalOf = [](int pin) { return QString::fromLatin1(ConnectorPins()[pin - 1].signal); };
    for (size_t i = 0; i < ConnectorPins().size(); ++i) {
        EXPECT_EQ(ConnectorPins()[i].pin, static_cast<int>(i) + 1);
    }
    std::map<int, QString> pcPinToSignal;
    for (const SerialWire& wire : SerialWires()) {
        pcPinToSignal[wire.pcPin] = signalOf(wire.receiverPin);
    }
    EXPECT_TRUE(pcPinToSignal[2].contains("TX"));  // the PC receives on pin 2
    EXPECT_TRUE(pcPinToSignal[3].contains("RX"));  // and sends on pin 3
    EXPECT_EQ(pcPinToSignal[5], "Ground");
    for (const char* needed : {"Ground", "switched", "unswitched", "CAN high", "CAN low", "Radar"}) {
        bool found = false;
        for (const ConnectorPin& pin : ConnectorPins()) {
            found = found || QString::fromLatin1(pin.signal).contains(needed);
        }
        EXPECT_TRUE(found) << needed;
    }
}

}  // namespace
