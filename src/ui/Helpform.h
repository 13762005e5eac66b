#pragma once
// The help window: a contents page of links, each of which replaces the page with one topic,
// a text in a scrolling memo or a picture. Opened at the contents page from the main window
// and directly at the software loading topic from the loading dialog.
#include <QDialog>
#include <vector>

namespace Ui {
class TFormHelp;
}
class QLabel;
class QPushButton;

class TFormHelp : public QDialog {
    Q_OBJECT
  public:
    explicit TFormHelp(QWidget* parent = nullptr);
    ~TFormHelp() override;

    // Opens the help at its contents page, centred over bounds on the first opening.
    void ShowContents(const QRect& bounds);
    // Opens the help at the software loading topic, left with Close instead of Back.
    void ShowLoadingHelp(const QRect& bounds);

    void ShowContentsPage();
    void HideTopicLinks();

    void LabelConnectionClick();
    void Label12Click();
    void LabelProgrammingClick();
    void LabelLoggingClick();
    void LabelNMEAGGAClick();
    void LabelNMEAGSAClick();
    void LabelNMEAVTGClick();
    void LabelNMEAZDAClick();
    void LabelNMEARMCClick();
    void LabelNMEASNRClick();
    void ButtonBackClick();
    void ButtonCloseClick();
    void FormResize();

    // The links in contents order, and every topic control (memos, then pictures).
    std::vector<QLabel*> Links() const;
    std::vector<QWidget*> TopicControls() const;
    QPushButton* ButtonBack() const;
    QPushButton* ButtonClose() const;

    bool positioned = false;  // placed over its caller once

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Leave { Back, Close };
    void PlaceOnFirstOpening(const QRect& bounds);
    void ShowTopic(QWidget* control, const QString& caption, Leave leave = Leave::Back);
    void ShowPictureTopic(QLabel* image, const QString& caption);
    void ShowMemoTopic(QWidget* memo, const QString& caption, Leave leave = Leave::Back);
    void SetUpLinks();
    void DrawPictures();

    Ui::TFormHelp* ui;
};

extern TFormHelp* FormHelp;
