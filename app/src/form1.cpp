#include "app/form1.h"

#include "app/cursor_file.h"

#include <common/twips.h>
#include <convert/conversion_run.h>
#include <convert/deployment.h>
#include <convert/output_options.h>
#include <joblist/file_list_view.h>
#include <joblist/list_commands.h>
#include <scan/add_all.h>
#include <shell/dialogs.h>
#include <shell/failure.h>
#include <shell/failure_report.h>
#include <shell/paths.h>
#include <shell/progress_bar.h>
#include <shell/settings.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace app {

namespace {

int px(int twips) {
    return (twips + common::kTwipsPerPixel / 2) / common::kTwipsPerPixel;
}

// Places a control from its twips rectangle (left, top, width, height).
void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

constexpr const char* kListToolTip =
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
    "window to reveal full names.";

}  // namespace

Form1::Form1(shell::Dialogs* dialogs, QWidget* parent) : Form1(dialogs, nullptr, parent) {}

Form1::Form1(shell::Dialogs* dialogs, const convert::ToolSource* tools, QWidget* parent)
    : QWidget(parent), m_dialogs(dialogs), m_pointer(this) {
    if (m_dialogs == nullptr) {
        m_ownDialogs = std::make_unique<shell::QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    m_closeAction = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    buildControls();
    ListView1->attach(&m_pointer, m_dialogs);
    m_outputOptions = std::make_unique<convert::OutputOptions>(Option1, Option2, Frame4, Text1);
    if (tools == nullptr) {
        m_ownTools = std::make_unique<convert::EmbeddedTools>();
        tools = m_ownTools.get();
    }
    m_conversionRun = std::make_unique<convert::ConversionRun>(
        convert::ConversionRun::Controls{ListView1, Option1, Option2, Text1, ProgressBar1,
                                         &m_pointer, m_dialogs, Check1, Check2, Combo1},
        *tools);

    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(PushButton9, &QPushButton::clicked, this, &Form1::PushButton9_Click);
    connect(Option1, &QRadioButton::clicked, this, &Form1::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &Form1::Option2_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(Check2, &QCheckBox::clicked, this, &Form1::Check2_Click);
    connect(Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(kClientWidth, kClientHeight);
    QFont windowFont(QStringLiteral("Arial"), 9, QFont::Bold);
    setFont(windowFont);
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setBold(true);
    buttonFont.setPointSizeF(11.25);

    auto button = [&](const char* name, const char* caption, QWidget* parent) {
        auto* b = new QPushButton(QString::fromLatin1(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(buttonFont);
        return b;
    };

    ListView1 = new joblist::FileListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setFont(windowFont);
    ListView1->setToolTip(QString::fromLatin1(kListToolTip));
    place(ListView1, 120, 120, 7800, 2535);

    PushButton1 = button("PushButton1", "Add MSG File(s)", this);
    place(PushButton1, 120, 2750, 3840, 405);
    PushButton4 = button("PushButton4", "Add All MSG File(s) In Folder", this);
    place(PushButton4, 4080, 2750, 3840, 405);
    PushButton6 = button("PushButton6", "Clear List", this);
    place(PushButton6, 120, 3260, 3840, 405);
    PushButton7 = button("PushButton7", "Load Sample/Example Files", this);
    place(PushButton7, 4080, 3260, 3840, 405);

    Frame1 = new QGroupBox(QStringLiteral("Save Option"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 120, 3710, 7800, 2115);

    Option1 = new QRadioButton(QStringLiteral("Save results to this folder:"), Frame1);
    Option1->setObjectName(QStringLiteral("Option1"));
    place(Option1, 240, 300, 3615, 255);
    Option1->setChecked(true);

    Frame4 = new QGroupBox(Frame1);
    Frame4->setObjectName(QStringLiteral("Frame4"));
    place(Frame4, 480, 510, 6840, 810);

    Text1 = new QLineEdit(Frame4);
    Text1->setObjectName(QStringLiteral("Text1"));
    place(Text1, 240, 300, 5670, 345);

    PushButton9 = button("PushButton9", "...", Frame4);
    place(PushButton9, 6000, 300, 600, 345);

    Option2 = new QRadioButton(QStringLiteral("Save results in folder of original file"), Frame1);
    Option2->setObjectName(QStringLiteral("Option2"));
    place(Option2, 240, 1410, 3615, 255);

    Check1 = new QCheckBox(QStringLiteral("Include message header"), Frame1);
    Check1->setObjectName(QStringLiteral("Check1"));
    place(Check1, 4080, 1410, 3480, 255);

    Check2 = new QCheckBox(QStringLiteral("Include attachments"), Frame1);
    Check2->setObjectName(QStringLiteral("Check2"));
    place(Check2, 4080, 1710, 3480, 255);

    Label1 = new QLabel(QStringLiteral("Save pages as:"), Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 270, 1710, 1335, 255);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->addItems({QStringLiteral("JPEG"), QStringLiteral("PDF"), QStringLiteral("TIFF")});
    Label1->setBuddy(Combo1);
    place(Combo1, 1620, 1665, 1215, 330);

    PushButton2 = button("PushButton2", "Start Converting", this);
    place(PushButton2, 120, 5960, 7800, 405);

    ProgressBar1 = new shell::ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setText(QStringLiteral("Progress Bar"));
    place(ProgressBar1, 120, 6480, 7800, 405);

    // Tab order: ListView1, ProgressBar1, PushButton1, PushButton4,
    // PushButton2, PushButton6, PushButton7, Frame1, Frame4, Text1,
    // PushButton9, Option1, Option2, Combo1, Check1, Check2 (frames and the
    // bar take no focus).
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    QWidget* order[] = {ListView1,   PushButton1, PushButton4, PushButton2, PushButton6,
                        PushButton7, Text1,       PushButton9, Option1,     Option2,
                        Combo1,      Check1,      Check2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    // Pointer feedback: the buttons show the hand, the window surface and the
    // frames the default pointer.
    for (QWidget* w :
         std::initializer_list<QWidget*>{this, Frame1, Frame4, PushButton1, PushButton4,
                                         PushButton2, PushButton6, PushButton7, PushButton9}) {
        w->setMouseTracking(true);
        if (w != this) {
            w->installEventFilter(this);
        }
    }
    installEventFilter(this);
}

void Form1::addStartPaths(const QStringList& paths) {
    QStringList absolute;
    for (const QString& path : paths) {
        absolute << QFileInfo(path).absoluteFilePath();
    }
    if (!absolute.isEmpty()) {
        joblist::AddDroppedPaths(*ListView1, absolute, *m_dialogs);
    }
}

void Form1::Form_Load() {
    shell::StepRunner runner(*m_dialogs, QString::fromLatin1(shell::location::kFormLoad));
    runner.step(100, [&] { ApplySkin(); });
    if (runner.test(102, [&] {
            return shell::FileExists(shell::ApplicationFolder() + QStringLiteral("/HAND-M.CUR"));
        })) {
        runner.step(104, [&] { loadHandPointer(); });
    }
    runner.step(130, [&] {
        setWindowTitle(QString::fromLatin1(shell::kDisplayName));
        setWindowIcon(QIcon(QStringLiteral(":/icons/orvaline.png")));
        shell::SetApplicationTitle();
    });
    runner.step(132, [&] {
        ListView1->setColumnCount(1);
        ListView1->setHeaderLabels({QStringLiteral("MSG File(s)")});
    });
    runner.step(134, [&] { ListView1->header()->resizeSection(0, px(7000)); });
    m_outputOptions->restore(runner);
    // [148] The window's coordinates are pixels from here on; Qt's always are.
    runner.step(148, [] {});
    runner.step(150, [&] {
        Check1->setChecked(shell::ToBoolean(shell::ReadSetting(shell::Setting::Header)));
    });
    runner.step(152, [&] {
        Check2->setChecked(shell::ToBoolean(shell::ReadSetting(shell::Setting::Attachments)));
    });
    runner.step(154, [&] {
        // A stored value the list does not hold leaves JPEG chosen.
        const int index = Combo1->findText(shell::ReadSetting(shell::Setting::Format));
        Combo1->setCurrentIndex(index < 0 ? 0 : index);
    });
}

void Form1::ApplySkin() {
    const QString skin = shell::ApplicationFolder() + QStringLiteral("/x/o.cjs");
    QFile file(skin);
    if (!QFileInfo::exists(skin)) {
        return;
    }
    const QColor face = palette().color(QPalette::Button);
    auto paint = [&](QWidget* w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, face);
        w->setPalette(p);
        w->setAutoFillBackground(true);
    };
    paint(this);
    for (QWidget* w : findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w) ||
            qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w)) {
            paint(w);
        }
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw shell::Failure::fromErrno(EACCES);
    }
    setStyleSheet(QString::fromUtf8(file.readAll()));
}

void Form1::loadHandPointer() {
    const QString path = shell::ApplicationFolder() + QStringLiteral("/HAND-M.CUR");
    auto cursor = LoadCursorFile(path);
    if (!cursor) {
        throw shell::Failure(QStringLiteral("Invalid picture"), 481);
    }
    m_pointer.setCustomCursor(*cursor);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && !m_pointer.busy()) {
        if (watched == this || watched == Frame1 || watched == Frame4) {
            m_pointer.set(shell::WindowPointer::kDefault);
        } else if (qobject_cast<QPushButton*>(watched) != nullptr) {
            m_pointer.set(shell::WindowPointer::kCustom);
            // A button ignores plain moves, which would then reach its frame
            // and reset the pointer: the move ends here.
            if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) {
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_closeAction) {
        m_closeAction();
    }
}

void Form1::Option1_Click() {
    m_outputOptions->optionClicked();
}

void Form1::Option2_Click() {
    m_outputOptions->optionClicked();
}

void Form1::Text1_Change() {
    m_outputOptions->textChanged(Text1->text());
}

void Form1::Check1_Click() {
    // As the other options: a store that cannot be written leaves the box as
    // the user set it.
    try {
        shell::WriteSetting(shell::Setting::Header, shell::BooleanText(Check1->isChecked()));
    } catch (const shell::Failure& failure) {
        std::fprintf(stderr, "orvaline: settings not saved: %s\n", failure.what());
    }
}

void Form1::Check2_Click() {
    try {
        shell::WriteSetting(shell::Setting::Attachments, shell::BooleanText(Check2->isChecked()));
    } catch (const shell::Failure& failure) {
        std::fprintf(stderr, "orvaline: settings not saved: %s\n", failure.what());
    }
}

void Form1::Combo1_Click() {
    try {
        shell::WriteSetting(shell::Setting::Format, Combo1->currentText());
    } catch (const shell::Failure& failure) {
        std::fprintf(stderr, "orvaline: settings not saved: %s\n", failure.what());
    }
}

// Commands handled by the job list, the folder scan and the conversion run.
void Form1::PushButton1_Click() {
    joblist::AddFilesCommand(*ListView1, *m_dialogs).run();
}

void Form1::PushButton2_Click() {
    m_conversionRun->start();
}

void Form1::PushButton4_Click() {
    scan::AddAllCommand(*m_dialogs, m_pointer, [this](const QString& path) {
        ListView1->appendItem(path);
    }).run();
}

void Form1::PushButton6_Click() {
    joblist::ClearListCommand(*ListView1, m_pointer, *m_dialogs).run();
}

void Form1::PushButton7_Click() {
    joblist::LoadSamplesCommand(*ListView1, *m_dialogs).run();
}

void Form1::PushButton9_Click() {
    m_outputOptions->browse(*m_dialogs);
}

}  // namespace app
