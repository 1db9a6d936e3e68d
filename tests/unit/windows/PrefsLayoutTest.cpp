// Every text of the preferences shows whole, on every page, at the desktop's
// font and a larger one, at the scale this run has (ctest runs it at 1 and 1.5).
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTextDocument>

#include "WindowsFixture.h"

namespace {

// The text as drawn: markup and mnemonic marks gone.
QString Drawn(QString text, bool rich)
{
    if (rich) {
        QTextDocument doc;
        doc.setHtml(text);
        return doc.toPlainText();
    }
    return text.replace(QLatin1String("&&"), QLatin1String("\x01")).remove(u'&').replace(u'\x01', u'&');
}

// What of a control's text is cut off; empty when it all shows.
std::string Clipped(QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    const auto report = [&](const QString& text, const QString& how) {
        return (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName())
            .append(" \"").append(text).append("\" ").append(how).toStdString();
    };
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty()) return {};
        const bool rich = label->textFormat() == Qt::RichText ||
                          (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        const QString text = Drawn(label->text(), rich);
        const int m = label->margin();
        const QRect room = label->contentsRect().adjusted(m, m, -m, -m);
        if (label->wordWrap()) {
            // Wrapped as the label wraps it; a plain label breaks no word, so
            // one wider than the line runs past its edge.
            const int height = label->heightForWidth(label->width());
            const int width = label->property("wrapAnywhere").toBool()
                                  ? 0
                                  : fm.boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::TextWordWrap, text).width();
            if (width > room.width() || height > label->height())
                return report(text, QStringLiteral("needs %1 wide, %2 high wrapped, has %3x%4")
                                        .arg(width).arg(height).arg(room.width()).arg(label->height()));
            return {};
        }
        const int width = fm.horizontalAdvance(text);
        if (width > room.width() || fm.height() > room.height())
            return report(text, QStringLiteral("needs %1x%2, has %3x%4")
                                    .arg(width).arg(fm.height()).arg(room.width()).arg(room.height()));
        return {};
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button || button->text().isEmpty()) return {};
    // A caption partly covered on purpose names the part it shows.
    const QVariant shown = button->property("shownText");
    const QString text = Drawn(shown.isValid() ? shown.toString() : button->text(), false);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    const bool box = qobject_cast<QCheckBox*>(w);
    if (!box && !qobject_cast<QPushButton*>(w)) return {};
    // Where the style draws the caption, past the box or inside the bevel.
    const QRect room = button->style()->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                                       &option, button);
    const int width = fm.horizontalAdvance(text) + (box ? 0 : 2);
    if (width > room.width() || fm.height() > room.height())
        return report(text, QStringLiteral("needs %1x%2, has %3x%4")
                                .arg(width).arg(fm.height()).arg(room.width()).arg(room.height()));
    return {};
}

class PrefsLayout : public WindowsFixture {};

TEST_F(PrefsLayout, NoTextIsClippedOnAnyPage)
{
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    std::printf("scale %s, device pixel ratio %.2f\n", scale.isEmpty() ? "unset" : scale.constData(),
                prefs->devicePixelRatioF());
    if (!scale.isEmpty()) EXPECT_DOUBLE_EQ(prefs->devicePixelRatioF(), scale.toDouble());

    // The texts the window shows at their longest: the hot-key note and the
    // base URL's message, with a short address and one longer than a line.
    auto* note = prefs->findChild<QLabel*>("lblHotKeyNote");
    ASSERT_NE(note, nullptr);
    note->setText("Not active: the desktop keeps this key for itself or another program.");

    const QFont desktop = QApplication::font();
    QFont larger = desktop;
    larger.setPointSizeF(std::max<qreal>(desktop.pointSizeF(), 9) + 2);
    int checked = 0;
    bool sawMessage = false;
    struct Run {
        QFont font;
        const char* url;
    };
    for (const Run& run : {Run{desktop, "chronel.example.com/timer/index.php"}, Run{larger, "chronel.example.com/"},
                           Run{desktop, "timer.intranet.example.com/chronel/aVeryLongPathWithoutAnyBlanks/index.php"}}) {
        const QFont& font = run.font;
        prefs->edtBaseURL->SetText(run.url);
        ASSERT_FALSE(prefs->lblBaseURLProblem->text().isEmpty());
        QApplication::setFont(font);
        prefs->show();
        for (int page = 0; page < prefs->PageControl1->count(); ++page) {
            prefs->PageControl1->setCurrentIndex(page);
            for (int i = 0; i < 5; ++i) QApplication::processEvents();
            QList<QWidget*> shown = prefs->PageControl1->widget(page)->findChildren<QWidget*>();
            shown.push_back(prefs->OKBtn);
            shown.push_back(prefs->HelpBtn);
            for (QWidget* w : shown) {
                if (!w->isVisible()) continue;
                ++checked;
                sawMessage = sawMessage || w == prefs->lblBaseURLProblem;
                const std::string clipped = Clipped(w);
                EXPECT_EQ(clipped, "") << "page " << prefs->PageControl1->tabText(page).toStdString() << ", "
                                       << font.pointSizeF() << " pt";
            }
        }
        prefs->hide();
    }
    QApplication::setFont(desktop);
    EXPECT_GT(checked, 40);
    EXPECT_TRUE(sawMessage);
}

}  // namespace
