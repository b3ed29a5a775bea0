// Every fixed text whole in its control, measured on a real X server with a window manager: at
// 96 dpi, and (DOMIVOX_TEST_SCALE=2) on a 192-dpi screen with Qt scaling everything twice.

#include <climits>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "../support/XSession.h"
#include "EveryWindow.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "startup/Helpme.h"
#include "startup/disclaim.h"
#include "startup/frmSplash.h"
#include "store/Module1.h"

using platform::px;
using platform::WindowRegistry;

namespace {

int scale() {
    return qEnvironmentVariableIntValue("DOMIVOX_TEST_SCALE") == 2 ? 2 : 1;
}

struct WindowKind {
    const char* name;
    QSize clientTwips;
    platform::Window* (*show)();
};

const WindowKind kWindows[] = {
    {"Form1", {10350, 6000}, [] { return (platform::Window*)WindowRegistry::show<Form1>(); }},
    {"settings", {5400, 4425}, [] { return (platform::Window*)WindowRegistry::show<settings>(); }},
    {"caption1", {6525, 1845}, [] { return (platform::Window*)WindowRegistry::show<caption1>(); }},
    {"frmTimer", {3645, 3465}, [] { return (platform::Window*)WindowRegistry::show<frmTimer>(); }},
    {"password", {4695, 3495}, [] { return (platform::Window*)WindowRegistry::show<password>(); }},
    {"internetsettings",
     {11400, 7200},
     [] { return (platform::Window*)WindowRegistry::show<internetsettings>(); }},
    {"Helpme", {10305, 7440}, [] { return (platform::Window*)WindowRegistry::show<Helpme>(); }},
    {"disclaim", {8415, 3900}, [] { return (platform::Window*)WindowRegistry::show<disclaim>(); }},
    {"frmSplash",
     {7380, 4245},
     [] {
         frmSplash* s = WindowRegistry::show<frmSplash>();
         s->Timer2()->setEnabled(false);  // it stays up while it is measured
         return (platform::Window*)s;
     }},
};

// The window's size in the X server's own pixels.
QSize xSize(const QWidget* w) {
    const QString out =
        testsupport::runTool("xwininfo", {"-id", QStringLiteral("0x%1").arg(w->winId(), 0, 16)});
    auto field = [&out](const char* label) {
        const QRegularExpression re(QLatin1String(label) + QLatin1String(":\\s+(\\d+)"));
        return re.match(out).captured(1).toInt();
    };
    return QSize(field("Width"), field("Height"));
}

// A caption as drawn: "&" marks the access key and is not shown, "&&" shows one.
QString drawn(QString caption) {
    caption.replace(QLatin1String("&&"), QLatin1String("\x01"));
    caption.remove(QLatin1Char('&'));
    return caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// Everything that does not fit, one line each, with the room it had and what it needed.
class FitCheck {
public:
    QStringList misfits;
    int checked = 0;
    // The text with the least room to spare across, for the log.
    QString tightest;
    int spare = INT_MAX;

    void window(platform::Window* w) {
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (auto* l = qobject_cast<QLabel*>(c); l && !l->text().isEmpty())
                label(l);
            else if (auto* b = qobject_cast<QPushButton*>(c))
                styled(b, b->text(), QStyle::SE_PushButtonContents);
            else if (auto* k = qobject_cast<QCheckBox*>(c))
                styled(k, k->text(), QStyle::SE_CheckBoxContents);
            else if (auto* g = qobject_cast<QGroupBox*>(c); g && !g->title().isEmpty())
                frame(g);
            else if (auto* e = qobject_cast<QLineEdit*>(c); e && e->isVisibleTo(w))
                entry(e);
            else if (auto* p = qobject_cast<QPlainTextEdit*>(c); p && p->isVisibleTo(w))
                paragraphs(p);
        }
        if (w->menuBar()->isVisibleTo(w))
            menus(w->menuBar());
    }

private:
    static QString who(const QWidget* c) {
        const QString name = c->objectName();
        return c->window()->objectName() + '/' +
               (name.isEmpty() ? QString::fromLatin1(c->metaObject()->className()) : name);
    }

    static QString figures(const QWidget* c, const QString& text, const QFont& f, QSize need,
                           QSize room) {
        return QStringLiteral("%1 \"%2\" in %3 %4px: needs %5x%6, has %7x%8")
            .arg(who(c), text, QFontInfo(f).family())
            .arg(QFontInfo(f).pixelSize())
            .arg(need.width())
            .arg(need.height())
            .arg(room.width())
            .arg(room.height());
    }

    void measured(const QWidget* c, const QString& text, const QFont& f, QSize need, QSize room) {
        if (need.width() > room.width() || need.height() > room.height())
            misfits << figures(c, text, f, need, room);
        else if (room.width() - need.width() < spare) {
            spare = room.width() - need.width();
            tightest = figures(c, text, f, need, room);
        }
    }

    // One line of text from the left edge of `room`: its advance and its ink must both fit.
    void line(const QWidget* c, const QString& text, const QFont& f, const QRect& room) {
        ++checked;
        const QFontMetrics fm(f, c);
        const QRect ink = fm.boundingRect(text);
        const QSize need(qMax(fm.horizontalAdvance(text), ink.right() + 1) - qMin(0, ink.left()),
                         fm.height());
        measured(c, text, f, need, room.size());
    }

    // Every control stands wholly inside its container, or part of it is never drawn.
    void inside(const QWidget* c) {
        const QWidget* parent = c->parentWidget();
        if (parent && !parent->rect().contains(c->geometry()))
            misfits << QStringLiteral("%1 reaches out of %2").arg(who(c), parent->objectName());
    }

    void label(const QLabel* l) {
        if (!l->pixmap().isNull())
            return;
        inside(l);
        const QRect room = l->contentsRect();
        if (!l->wordWrap()) {
            line(l, l->text(), l->font(), room);
            return;
        }
        ++checked;
        const QFontMetrics fm(l->font(), l);
        const QRect need = fm.boundingRect(QRect(0, 0, room.width(), INT_MAX / 2),
                                           int(l->alignment()) | Qt::TextWordWrap, l->text());
        if (need.height() <= fm.height())  // one line: its ink counts too
            line(l, l->text(), l->font(), room);
        else
            measured(l, l->text(), l->font(), need.size(), room.size());
    }

    void styled(const QAbstractButton* b, const QString& caption, QStyle::SubElement contents) {
        if (caption.isEmpty())
            return;
        inside(b);
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = caption;
        const QRect room = b->style()->subElementRect(contents, &opt, b);
        const QString text = drawn(caption);
        // Buttons centre their caption, so what overflows is lost at both ends.
        line(b, text, b->font(), room);
    }

    void frame(const QGroupBox* g) {
        inside(g);
        ++checked;
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.textAlignment = g->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title =
            g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        // The style sizes the title to its text (some draw it bold); the box must hold it.
        const QFontMetrics plain(g->font(), g);
        if (title.width() < plain.horizontalAdvance(drawn(g->title())) ||
            !g->rect().contains(title))
            misfits << figures(g, g->title(), g->font(), title.size(), g->rect().size());
    }

    void entry(const QLineEdit* e) {
        if (e->text().isEmpty() || e->echoMode() != QLineEdit::Normal)
            return;
        QStyleOptionFrame opt;
        opt.initFrom(e);
        opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
        QRect room = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e);
        // The entry keeps two pixels clear at each side and one above and below the text.
        room = room.marginsRemoved(e->textMargins()).adjusted(2, 1, -2, -1);
        line(e, e->text(), e->font(), room);
    }

    // Text that flows: no line of it wider than the box shows, and none broken inside a word
    // (an address split in two is one a user types wrong).
    void paragraphs(const QPlainTextEdit* p) {
        ++checked;
        const int room = p->viewport()->width();
        for (QTextBlock b = p->document()->begin(); b.isValid(); b = b.next())
            for (int i = 0; i < b.layout()->lineCount(); ++i) {
                const QTextLine l = b.layout()->lineAt(i);
                const QString text = b.text().mid(l.textStart(), l.textLength());
                if (l.naturalTextWidth() > room)
                    misfits << figures(p, text, p->font(),
                                       QSize(qCeil(l.naturalTextWidth()), qCeil(l.height())),
                                       p->viewport()->size());
                if (i + 1 < b.layout()->lineCount() && !text.endsWith(QLatin1Char(' ')))
                    misfits << who(p) + QStringLiteral(" breaks a word after \"%1\"").arg(text);
            }
    }

    void menus(QMenuBar* bar) {
        inside(bar);
        const auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button"));
        if (more && more->isVisible())
            misfits << who(bar) + QStringLiteral(" hides entries behind its extension button");
        for (QAction* top : bar->actions()) {
            line(bar, drawn(top->text()), bar->font(), bar->actionGeometry(top));
            QMenu* menu = top->menu();
            if (!menu)
                continue;
            menu->ensurePolished();
            menu->adjustSize();
            for (QAction* item : menu->actions())
                if (!item->isSeparator())
                    line(menu, drawn(item->text()), menu->font(), menu->actionGeometry(item));
        }
    }
};

}  // namespace

class TestFit : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    platform::Window* open(const WindowKind& kind) {
        platform::Window* w = kind.show();
        if (w && !QTest::qWaitForWindowExposed(w, testsupport::allowMs(10000)))
            return nullptr;
        return w;
    }

    // The window's client area as the X server shows it, into <build>/screenshots.
    static bool screenshot(platform::Window* w, const QString& name) {
        QCoreApplication::processEvents();
        QTest::qWait(testsupport::allowMs(200));
        const QPixmap shot = w->screen()->grabWindow(w->winId());
        QDir().mkpath(DOMIVOX_SCREENSHOT_DIR);
        return !shot.isNull() &&
               shot.save(
                   QStringLiteral(DOMIVOX_SCREENSHOT_DIR "/fit-%1x-%2.png").arg(scale()).arg(name));
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(qRound(QGuiApplication::primaryScreen()->devicePixelRatio()), scale());
        qInfo("design fonts drawn with %s", qPrintable(platform::designFamily()));
    }

    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        Module1::WriteSetting(Setting::disclaimer, "1");
        Module1::WriteSetting(Setting::caption, "Larry's Program");
        Module1::WriteSetting(Setting::picture, "False");
        for (const char* asset : {"serialcable.bmp", "README.RTF"})
            QFile::copy(QStringLiteral(DOMIVOX_SOURCE_DIR "/assets/") + asset,
                        box->appDir() + "/" + asset);
    }
    void cleanup() {
        box.reset();  // unloads every window
        platform::installFonts();
    }

    void everyFixedTextFitsItsControl_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kWindows)); ++i)
            QTest::newRow(kWindows[i].name) << i;
    }
    void everyFixedTextFitsItsControl() {
        QFETCH(int, index);
        const WindowKind& kind = kWindows[index];
        platform::Window* w = open(kind);
        QVERIFY(w);

        // The design geometry holds in logical pixels; the X window has as many more as the
        // scale says.
        const QSize client(px(kind.clientTwips.width()), px(kind.clientTwips.height()));
        QCOMPARE(w->client()->size(), client);
        QCOMPARE(w->client()->mapTo(w, QPoint(0, 0)).y() + client.height() +
                     w->contentsMargins().bottom(),
                 w->height());
        QCOMPARE(xSize(w), w->size() * scale());

        FitCheck fit;
        fit.window(w);
        QVERIFY2(fit.misfits.isEmpty(), qPrintable(fit.misfits.join('\n')));
        QVERIFY(fit.checked > 0);
        qInfo("%d texts; tightest: %s", fit.checked, qPrintable(fit.tightest));
        QVERIFY(screenshot(w, kind.name));
    }

    void designFontsIgnoreFontconfigAliases_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::addColumn<int>("pixels");
        QTest::newRow("MS Sans Serif 8.25") << "MS Sans Serif" << 8.25 << 10;
        QTest::newRow("MS Sans Serif 12") << "MS Sans Serif" << 12.0 << 15;
        QTest::newRow("Arial 8.25") << "Arial" << 8.25 << 10;
        QTest::newRow("Arial 14.25") << "Arial" << 14.25 << 18;
        QTest::newRow("Arial 21.75") << "Arial" << 21.75 << 28;
    }
    void designFontsIgnoreFontconfigAliases() {
        QFETCH(QString, family);
        QFETCH(double, points);
        QFETCH(int, pixels);
        QFont asked(family);
        asked.setPointSizeF(points);
        QCOMPARE(QFontInfo(asked).family(), QString("DejaVu Sans"));  // what fontconfig says
        QVERIFY(!platform::designFamily().isEmpty());
        const QFontInfo used(platform::designFont(family, points));
        QCOMPARE(used.family(), platform::designFamily());
        QCOMPARE(used.pixelSize(), pixels);
        QCOMPARE(QFontInfo(QApplication::font()).family(), platform::designFamily());
    }

    void thePictureAreaStaysThreeHundredLogicalPixels() {
        Form1* main = WindowRegistry::show<Form1>();
        QVERIFY(QTest::qWaitForWindowExposed(main, testsupport::allowMs(10000)));
        auto* image = main->findChild<platform::PictureBox*>("Image1");
        QVERIFY(image && image->hasPicture());
        QCOMPARE(image->size(), QSize(300, 300));
        QCOMPARE(image->picture().deviceIndependentSize(), QSizeF(300, 300));
        // What the screen shows there is the picture, drawn over as many device pixels as the
        // scale gives each logical one: the white corner far from the cable stays white.
        const QImage shot = main->screen()->grabWindow(main->winId()).toImage();
        const QPoint corner = image->mapTo(main, QPoint(295, 5)) * scale();
        QCOMPARE(shot.pixelColor(corner), image->picture().toImage().pixelColor(295, 5));
    }

    // The same check sees the fault a user saw: the old font, fontconfig's DejaVu Sans at the
    // design sizes, cuts the words named here.
    void theOldFontIsCaught_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("pixelsLess");  // -1: the 9 pt that Qt falls back to
        QTest::addColumn<QStringList>("cut");
        QTest::newRow("timer") << 3 << 0
                               << QStringList{"frmTimer/Label7 ", "frmTimer/Label19 ",
                                              "frmTimer/Label18 ", "frmTimer/Label1 "};
        QTest::newRow("control names") << 1 << 0 << QStringList{"settings/Text5 "};
        QTest::newRow("control names at 9 pt")
            << 1 << -1 << QStringList{"settings/Command1 ", "settings/Command2 "};
        QTest::newRow("caption editor") << 2 << 0 << QStringList{"caption1/Text2 "};
        QTest::newRow("disclaimer") << 7 << 0 << QStringList{"disclaim/Check1 "};
        QTest::newRow("splash") << 8 << 0 << QStringList{"frmSplash/lblCompanyProduct "};
    }
    void theOldFontIsCaught() {
        QFETCH(int, index);
        QFETCH(int, pixelsLess);
        QFETCH(QStringList, cut);
        platform::installFonts(
            {QStringLiteral("DejaVu Sans"), pixelsLess, QFont::PreferDefaultHinting});
        platform::Window* w = open(kWindows[index]);
        QVERIFY(w);
        FitCheck fit;
        fit.window(w);
        const QString found = fit.misfits.join('\n');
        for (const QString& name : cut)
            QVERIFY2(found.contains(name), qPrintable(name + " fits:\n" + found));
        QVERIFY(screenshot(
            w, QStringLiteral("old-font-%1-%2").arg(kWindows[index].name).arg(11 - pixelsLess)));
    }
};

int main(int argc, char** argv) {
    testsupport::XSession session(96 * scale());
    if (!session.serverStarted()) {
        fprintf(stderr, "SKIPPED: no X server for the desktop tests: %s\n",
                qPrintable(session.why()));
        return 77;
    }
    if (!session.managerStarted()) {
        fprintf(stderr, "FAIL: %s\n", qPrintable(session.why()));
        return 1;
    }
    if (scale() == 2)
        qputenv("QT_SCALE_FACTOR", "2");
    // fontconfig told to answer DejaVu Sans for the design families and for any sans: the
    // program's fonts must not depend on what it says.
    QTemporaryDir fonts;
    QFile conf(fonts.filePath("fonts.conf"));
    if (!fonts.isValid() || !conf.open(QIODevice::WriteOnly))
        return 1;
    conf.write(
        "<?xml version=\"1.0\"?>\n<fontconfig>\n"
        "<include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n");
    for (const char* family : {"MS Sans Serif", "Arial", "sans-serif"})
        conf.write(QByteArray("<match target=\"pattern\"><test name=\"family\"><string>") + family +
                   "</string></test><edit name=\"family\" mode=\"assign\" binding=\"strong\">"
                   "<string>DejaVu Sans</string></edit></match>\n");
    conf.write("</fontconfig>\n");
    conf.close();
    qputenv("FONTCONFIG_FILE", QFile::encodeName(conf.fileName()));
    QApplication app(argc, argv);
    platform::installFonts();
    TestFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fit.moc"
