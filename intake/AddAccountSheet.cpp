#include "intake/AddAccountSheet.h"

#include "core/Base32.h"
#include "core/Limits.h"
#include "core/Text.h"
#include "platform/files/RegularFile.h"
#include "platform/look/FittedText.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"
#include "platform/system/FreedMemory.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStringDecoder>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTabBar>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

QList<AddMode> allAddModes() {
    return {AddMode::scanScreen, AddMode::imageFile, AddMode::pasteLink, AddMode::manual};
}

QString addModeTitle(AddMode mode) {
    switch (mode) {
    case AddMode::scanScreen:
        return QStringLiteral("Scan screen");
    case AddMode::imageFile:
        return QStringLiteral("Image file");
    case AddMode::pasteLink:
        return QStringLiteral("Paste link");
    case AddMode::manual:
        return QStringLiteral("Enter by hand");
    }
    return {};
}

QString addModeSymbol(AddMode mode) {
    switch (mode) {
    case AddMode::scanScreen:
        return QStringLiteral("viewfinder");
    case AddMode::imageFile:
        return QStringLiteral("photo");
    case AddMode::pasteLink:
        return QStringLiteral("link");
    case AddMode::manual:
        return QStringLiteral("pencil");
    }
    return {};
}

std::optional<AddMode> addModeFromTitle(const QString& title) {
    for (AddMode mode : allAddModes())
        if (addModeTitle(mode) == title)
            return mode;
    return std::nullopt;
}

namespace {

// The sheet's texts wrap to its fixed width.
QLabel* styledLabel(const QString& text, Style::TextStyle style,
                    std::optional<Style::SemanticColor> colour = std::nullopt,
                    QFont::Weight weight = QFont::Normal) {
    QLabel* label = Style::label(text, style, colour, weight);
    label->setWordWrap(true);
    return label;
}

// The symbol at the height of a line of text in `font`.
QLabel* symbolLabel(const QString& name, const QFont& font, const QColor& colour,
                    QWidget* scale) {
    auto* label = new QLabel;
    const int size = QFontMetrics(font).height();
    label->setPixmap(Symbols::pixmap(name, size, colour, scale->devicePixelRatioF()));
    label->setFixedSize(size, size);
    ScreenReader::setHidden(label); // its text stands beside it
    return label;
}

// A symbol followed by a (wrapping) text, both on the first line's top.
QWidget* labelWithSymbol(const QString& symbol, QLabel* text, QWidget* scale,
                         std::optional<Style::SemanticColor> colour = std::nullopt) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const QColor tint = colour ? Style::color(*colour) : Style::color(Style::SemanticColor::primary);
    layout->addWidget(symbolLabel(symbol, text->font(), tint, scale), 0, Qt::AlignTop);
    layout->addWidget(text, 1);
    return row;
}

QWidget* paneTitle(const QString& symbol, const QString& title, QWidget* scale) {
    return labelWithSymbol(symbol, styledLabel(title, Style::TextStyle::headline), scale);
}

QFont monospacedBody() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (const qreal body = Style::font(Style::TextStyle::body).pointSizeF(); body > 0)
        font.setPointSizeF(body);
    return font;
}

QString rgba(const QColor& colour) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

// The choice between a few named values, each visible at once: a row of
// radio buttons of which exactly one is on, moved along by the arrow keys.
class ChoiceRow : public QWidget {
public:
    ChoiceRow() : m_group(new QButtonGroup(this)) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        row->addStretch(1);
        m_group->setExclusive(true);
    }

    void add(int id, const QString& title) {
        // Its title wraps rather than push the form wider than the sheet.
        auto* choice = new Style::WrappingRadioButton(title, this);
        choice->setChecked(m_group->buttons().isEmpty());
        m_group->addButton(choice, id);
        auto* row = static_cast<QHBoxLayout*>(layout());
        row->insertWidget(row->count() - 1, choice);
    }

    QButtonGroup* group() const { return m_group; }

private:
    QButtonGroup* m_group;
};

// The period is chosen only by stepping, so it is always one of the offered
// multiples of 15 seconds.
class PeriodStepper : public QSpinBox {
public:
    PeriodStepper() {
        setRange(15, 120);
        setSingleStep(15);
        setValue(30);
        setSuffix(QStringLiteral(" seconds"));
        lineEdit()->setReadOnly(true);
        setMaximumWidth(220);
    }
};

// The pane area keeps its greatest height whatever the pane, so the sheet
// does not jump when the mode changes; taller panes scroll.
class PaneScroller : public QScrollArea {
public:
    static constexpr int minimumPaneHeight = 280;
    static constexpr int maximumPaneHeight = 360;

    PaneScroller() {
        setMinimumHeight(minimumPaneHeight);
        setMaximumHeight(maximumPaneHeight);
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    QSize sizeHint() const override {
        return {QScrollArea::sizeHint().width(), maximumPaneHeight};
    }
};

// The editor of "Paste link". A paste over the size limit is refused (and
// said so) before the editor lays it out, which for a huge text would take
// the window away for seconds.
class LinkEditor : public QPlainTextEdit {
public:
    std::function<void(const QString&)> onRefused;

protected:
    void insertFromMimeData(const QMimeData* source) override {
        if (source->hasText())
            if (const auto tooLarge = Limits::checkText(source->text())) {
                if (onRefused)
                    onRefused(*tooLarge);
                return;
            }
        QPlainTextEdit::insertFromMimeData(source);
    }
};

QLineEdit* lineEdit(const QString& placeholder) {
    auto* edit = new QLineEdit;
    edit->setPlaceholderText(placeholder);
    edit->setMaxLength(INT_MAX);
    return edit;
}

QLabel* gridLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

} // namespace

AddAccountSheet::AddAccountSheet(std::function<void(const QList<Account>&)> onAdd, QWidget* parent,
                                 ScreenScanner scanner)
    : AddAccountSheet(
          AddHandler([onAdd = std::move(onAdd)](const QList<Account>& accounts, Reply reply) {
              if (onAdd)
                  onAdd(accounts);
              reply(std::nullopt);
          }),
          parent, std::move(scanner)) {}

AddAccountSheet::AddAccountSheet(AddHandler onAdd, QWidget* parent, ScreenScanner scanner)
    : QDialog(parent), m_onAdd(std::move(onAdd)), m_scanner(std::move(scanner)) {
    setWindowTitle(tr("Add account"));
    if (parent)
        setWindowModality(Qt::WindowModal);

    // Everything lives in one body of fixed width; the dialog takes the
    // body's size, growing only by the status line when it appears.
    auto* body = new QWidget;
    body->setFixedWidth(540);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 18, 20, 12);
    header->addWidget(styledLabel(tr("Add account"), Style::TextStyle::title2, std::nullopt,
                                  QFont::Bold));
    header->addStretch(1);
    column->addLayout(header);

    // The ways in are the sheet's pages: a screen reader hears a tab list,
    // and the arrow keys move between them.
    m_modePicker = new QTabBar;
    m_modePicker->setExpanding(true);
    m_modePicker->setDrawBase(false);
    m_modePicker->setElideMode(Qt::ElideRight);
    for (AddMode mode : allAddModes()) {
        const int tab = m_modePicker->addTab(Symbols::icon(addModeSymbol(mode)), addModeTitle(mode));
        // Cut with "…" when a large font leaves it too little room.
        m_modePicker->setTabToolTip(tab, addModeTitle(mode));
    }
    connect(m_modePicker, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0)
            setMode(AddMode(index));
    });
    auto* pickerRow = new QHBoxLayout;
    pickerRow->setContentsMargins(20, 0, 20, 0);
    pickerRow->addWidget(m_modePicker);
    column->addLayout(pickerRow);
    column->addSpacing(12);
    column->addWidget(Style::divider());

    auto* panes = new QWidget;
    auto* paneColumn = new QVBoxLayout(panes);
    paneColumn->setContentsMargins(20, 20, 20, 20);
    m_panes[int(AddMode::scanScreen)] = buildScanPane();
    m_panes[int(AddMode::imageFile)] = buildImagePane();
    m_panes[int(AddMode::pasteLink)] = buildPastePane();
    m_panes[int(AddMode::manual)] = buildManualPane();
    for (QWidget* pane : m_panes)
        paneColumn->addWidget(pane);
    paneColumn->addStretch(1);
    m_scroller = new PaneScroller;
    m_scroller->setWidget(panes);
    column->addWidget(m_scroller);

    m_statusRow = new QWidget;
    auto* statusLayout = new QHBoxLayout(m_statusRow);
    statusLayout->setContentsMargins(20, 0, 20, 4);
    statusLayout->setSpacing(6);
    m_statusText = styledLabel(QString(), Style::TextStyle::caption);
    m_statusSymbol = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"),
                                 m_statusText->font(), Style::color(Style::SemanticColor::orange),
                                 this);
    statusLayout->addWidget(m_statusSymbol, 0, Qt::AlignTop);
    statusLayout->addWidget(m_statusText, 1);
    column->addWidget(m_statusRow);
    column->addWidget(Style::divider());

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(20, 14, 20, 14);
    footer->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"));
    // Return stays with the primary button even while Cancel has the focus
    // (as it does when the primary button hides for a scan).
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_primary = new QPushButton;
    connect(m_primary, &QPushButton::clicked, this, &AddAccountSheet::primaryClicked);
    // The indicator stands where "Scan" stood, with a little room either side.
    auto* working = new QWidget;
    auto* workingLayout = new QHBoxLayout(working);
    workingLayout->setContentsMargins(8, 0, 8, 0);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(48, 10);
    m_progress->setAccessibleName(tr("Scanning displays…"));
    workingLayout->addWidget(m_progress);
    // In the desktop's order, as in every other dialog.
    if (Style::acceptButtonFirst(this)) {
        footer->addWidget(m_primary);
        footer->addWidget(working);
        footer->addWidget(cancel);
    } else {
        footer->addWidget(cancel);
        footer->addWidget(m_primary);
        footer->addWidget(working);
    }
    column->addLayout(footer);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(body);
    // Made default only once it sits in the dialog: a button made default
    // outside it would leave the dialog choosing its own default as well.
    m_primary->setDefault(true);

    setMode(AddMode::scanScreen);
}

QWidget* AddAccountSheet::buildScanPane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addWidget(paneTitle(QStringLiteral("viewfinder"),
                                tr("Scan a QR code from your screen"), this));
    // Screen capture needs no permission on X11: the sentence says instead
    // what the user will notice, our own windows vanishing for a moment.
    column->addWidget(styledLabel(
        tr("Show the QR code somewhere on any of your displays — in a browser tab, on your "
           "phone, in another app — then click Scan. Quillet's own windows are hidden for a "
           "moment while it looks."),
        Style::TextStyle::callout, Style::SemanticColor::secondary));
    column->addWidget(styledLabel(
        tr("Tip: this also works with Google Authenticator's \"Export accounts\" QR — show "
           "that QR on your phone and point your phone's camera at the screen, or take a "
           "photo of it."),
        Style::TextStyle::caption, Style::SemanticColor::tertiary));
    return pane;
}

QWidget* AddAccountSheet::buildImagePane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    column->addWidget(paneTitle(QStringLiteral("photo"), tr("Read a QR code from an image"), this));
    column->addWidget(styledLabel(tr("Pick a PNG, JPG, or other image that contains the QR "
                                     "code. Multiple QR codes inside one image are supported."),
                                  Style::TextStyle::callout, Style::SemanticColor::secondary));
    column->addWidget(labelWithSymbol(
        QStringLiteral("square.and.arrow.down.on.square"),
        styledLabel(tr("Switching from Google Authenticator? Take a screenshot of its \"Export "
                       "accounts\" QR and pick it here to import them all at once."),
                    Style::TextStyle::caption, Style::SemanticColor::secondary),
        this, Style::SemanticColor::secondary));
    return pane;
}

QWidget* AddAccountSheet::buildPastePane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->addWidget(paneTitle(QStringLiteral("link"), tr("Paste an otpauth:// link"), this));
    column->addWidget(styledLabel(tr("Paste one or more otpauth:// links, a Google Authenticator "
                                     "export link, or the contents of a 2FAS, Aegis, Bitwarden, "
                                     "or Proton Authenticator backup."),
                                  Style::TextStyle::callout, Style::SemanticColor::secondary));

    auto* editor = new LinkEditor;
    editor->onRefused = [this](const QString& why) { setStatus(why); };
    m_linkText = editor;
    m_linkText->setObjectName(QStringLiteral("linkText"));
    m_linkText->setFont(monospacedBody());
    m_linkText->setMinimumHeight(80);
    m_linkText->setTabChangesFocus(true);
    // Links and backups hold secrets: no prediction, no learning by an input
    // method.
    m_linkText->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                    Qt::ImhSensitiveData);
    m_linkText->setStyleSheet(
        QStringLiteral("QPlainTextEdit#linkText { border: 1px solid %1; border-radius: 6px; }")
            .arg(rgba(Style::color(Style::SemanticColor::quaternary))));
    connect(m_linkText, &QPlainTextEdit::textChanged, this, &AddAccountSheet::refresh);
    column->addWidget(m_linkText);

    auto* openRow = new QHBoxLayout;
    auto* open = new QPushButton(Symbols::icon(QStringLiteral("doc"),
                                               Style::color(Style::SemanticColor::accent)),
                                 tr("Open a .2fas / .json / .txt file…"));
    open->setFlat(true);
    open->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = open->palette();
    linkPalette.setColor(QPalette::ButtonText, Style::color(Style::SemanticColor::accent));
    open->setPalette(linkPalette);
    connect(open, &QPushButton::clicked, this, &AddAccountSheet::openFile);
    openRow->addWidget(open);
    openRow->addStretch(1);
    column->addLayout(openRow);

    m_passwordPane = new QFrame;
    m_passwordPane->setObjectName(QStringLiteral("passwordPane"));
    QColor background = palette().color(QPalette::Base);
    background.setAlphaF(0.5f);
    m_passwordPane->setStyleSheet(
        QStringLiteral("QFrame#passwordPane { background: %1; border-radius: 8px; }")
            .arg(rgba(background)));
    auto* passwordColumn = new QVBoxLayout(m_passwordPane);
    passwordColumn->setContentsMargins(12, 12, 12, 12);
    passwordColumn->setSpacing(8);
    m_passwordTitle = styledLabel(QString(), Style::TextStyle::callout, std::nullopt,
                                  QFont::DemiBold);
    passwordColumn->addWidget(labelWithSymbol(QStringLiteral("lock.fill"), m_passwordTitle, this));
    m_password = lineEdit(tr("Backup password"));
    m_password->setEchoMode(QLineEdit::Password);
    // Return here decrypts; it must not reach the dialog, whose default
    // button would import the pasted text once more without the password.
    m_password->installEventFilter(this);
    connect(m_password, &QLineEdit::textChanged, this, &AddAccountSheet::refresh);
    passwordColumn->addWidget(m_password);
    m_decrypt = new QPushButton(tr("Decrypt && Import"));
    connect(m_decrypt, &QPushButton::clicked, this, &AddAccountSheet::decryptAndImport);
    passwordColumn->addWidget(m_decrypt, 0, Qt::AlignLeft);
    column->addWidget(m_passwordPane);
    return pane;
}

QWidget* AddAccountSheet::buildManualPane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(paneTitle(QStringLiteral("pencil"), tr("Enter a key by hand"), this));

    // Labels before their controls, aligned on their ends; a control too
    // wide for the room beside its label (at a large font) goes under it.
    auto* form = new QFormLayout;
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(8);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    // A row's label and control, for hiding them together.
    const auto addRow = [form](const QString& title, QWidget* control) {
        QLabel* label = gridLabel(title);
        form->addRow(label, control);
        return QList<QWidget*>{label, control};
    };

    m_issuer = lineEdit(tr("e.g. Google"));
    addRow(tr("Service"), m_issuer);
    m_name = lineEdit(tr("e.g. you@example.com"));
    addRow(tr("Account"), m_name);
    m_secret = lineEdit(tr("Base32 secret (no spaces)"));
    m_secret->setFont(monospacedBody());
    m_secret->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                  Qt::ImhSensitiveData);
    addRow(tr("Secret"), m_secret);
    for (QLineEdit* edit : {m_name, m_secret})
        connect(edit, &QLineEdit::textChanged, this, &AddAccountSheet::refresh);

    m_steam = new Style::WrappingCheckBox(tr("This is a Steam Guard account (5-character code)"));
    connect(m_steam, &QCheckBox::toggled, this, &AddAccountSheet::refresh);
    addRow(tr("Steam"), m_steam);

    auto* type = new ChoiceRow;
    type->add(int(OTPType::totp), tr("Time-based (TOTP)"));
    type->add(int(OTPType::hotp), tr("Counter (HOTP)"));
    m_type = type->group();
    connect(m_type, &QButtonGroup::idToggled, this, &AddAccountSheet::refresh);
    m_codeRows << addRow(tr("Type"), type);

    auto* algorithm = new ChoiceRow;
    for (HashAlgorithm hash : allHashAlgorithms)
        algorithm->add(int(hash), toText(hash));
    m_algorithm = algorithm->group();
    m_codeRows << addRow(tr("Algorithm"), algorithm);

    auto* digits = new ChoiceRow;
    for (int count : {6, 7, 8})
        digits->add(count, QString::number(count));
    digits->setMaximumWidth(200);
    m_digits = digits->group();
    m_codeRows << addRow(tr("Digits"), digits);

    m_period = new PeriodStepper;
    m_periodRow = addRow(tr("Period"), m_period);

    column->addLayout(form);
    return pane;
}

void AddAccountSheet::done(int result) {
    // Whatever closes the sheet (Cancel, Escape, the window's close button or
    // a finished import) ends its business: a scan that ends later must not
    // hand anything on.
    m_dismissed = true;
    QDialog::done(result);
}

bool AddAccountSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_password && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            decryptAndImport();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AddAccountSheet::setMode(AddMode mode) {
    m_mode = mode;
    if (m_modePicker->currentIndex() != int(mode))
        m_modePicker->setCurrentIndex(int(mode));
    refresh();
}

void AddAccountSheet::setStatus(const QString& status) {
    m_status = status;
    refresh();
}

void AddAccountSheet::setWorking(bool working) {
    m_working = working;
    refresh();
}

QString AddAccountSheet::linkText() const {
    // The editor's raw text: toPlainText() would turn no-break spaces into
    // spaces, and a pasted backup must reach the importers as it was.
    return m_linkText->document()->toRawText().replace(QChar::ParagraphSeparator,
                                                       QLatin1Char('\n'));
}

void AddAccountSheet::refresh() {
    for (AddMode mode : allAddModes())
        m_panes[int(mode)]->setVisible(mode == m_mode);

    const bool scanning = (m_mode == AddMode::scanScreen && m_working) || m_saving;
    switch (m_mode) {
    case AddMode::scanScreen:
        m_primary->setText(tr("Scan"));
        m_primary->setEnabled(!m_working);
        break;
    case AddMode::imageFile:
        m_primary->setText(tr("Choose image…"));
        m_primary->setEnabled(!m_working && !m_reading);
        break;
    case AddMode::pasteLink:
        m_primary->setText(tr("Add"));
        m_primary->setEnabled(!m_reading && !linkText().trimmed().isEmpty());
        break;
    case AddMode::manual:
        m_primary->setText(tr("Add"));
        m_primary->setEnabled(!m_name->text().trimmed().isEmpty() &&
                              !m_secret->text().trimmed().isEmpty());
        break;
    }
    m_primary->setVisible(!scanning);
    m_progress->parentWidget()->setVisible(scanning);
    m_progress->setAccessibleName(m_saving ? tr("Saving to your keyring…")
                                           : tr("Scanning displays…"));

    const bool busy = m_working || m_saving || m_reading;
    m_statusRow->setVisible(!m_status.isEmpty());
    m_statusText->setText(m_status);
    m_statusSymbol->setVisible(!busy);
    Style::setTextColor(m_statusText, Style::color(busy ? Style::SemanticColor::secondary
                                                        : Style::SemanticColor::red));

    m_passwordPane->setVisible(m_pendingEncryptedText.has_value());
    m_decrypt->setEnabled(!m_reading && !m_password->text().isEmpty());

    const bool steam = m_steam->isChecked();
    for (QWidget* widget : std::as_const(m_codeRows))
        widget->setVisible(!steam);
    const bool hotp = m_type->checkedId() == int(OTPType::hotp);
    for (QWidget* widget : std::as_const(m_periodRow))
        widget->setVisible(!steam && !hotp);
}

void AddAccountSheet::primaryClicked() {
    switch (m_mode) {
    case AddMode::scanScreen:
        scanScreen();
        break;
    case AddMode::imageFile:
        chooseImage();
        break;
    case AddMode::pasteLink:
        // Untrimmed: the importers do their own trimming.
        importText(linkText(), std::nullopt);
        break;
    case AddMode::manual:
        addManual();
        break;
    }
}

void AddAccountSheet::scanScreen() {
    if (m_working)
        return;
    setWorking(true);
    setStatus(tr("Scanning displays…"));
    // A scan still running (its working state ended by an empty import
    // meanwhile) is waited for again rather than started twice.
    if (m_scanRunning)
        return;
    m_scanRunning = true;
    // A moment for the sheet to show that it is working before the scanner
    // hides our windows for the capture.
    QTimer::singleShot(250, this, [this] {
        if (m_dismissed) {
            m_scanRunning = false;
            return; // nobody is left to hand the accounts to
        }
        // The sheet is the context, so a sheet deleted meanwhile never hears
        // of the result; the pointer also covers a scanner that forgets that.
        const QPointer<AddAccountSheet> self(this);
        m_scanner(this, [self](const QRImport::ScanResult& result) {
            if (self)
                self->scanEnded(result);
        });
    });
}

void AddAccountSheet::scanEnded(const QRImport::ScanResult& result) {
    m_scanRunning = false;
    if (m_dismissed)
        return;
    if (result.error) {
        setStatus(QRImport::errorMessage(result.error));
        setWorking(false);
        return;
    }
    // The scan is over whatever becomes of what it found (while accounts
    // are being stored, it is dropped).
    setWorking(false);
    finish(result.accounts, 0, std::nullopt, result.codes);
}

std::optional<QString> AddAccountSheet::askForFile(const QStringList& nameFilters) {
    // On the heap and watched: a scan that finishes while the dialog is open
    // closes (and may delete) the sheet, taking its child dialog with it.
    const QPointer<AddAccountSheet> alive(this);
    const QPointer<QFileDialog> dialog(new QFileDialog(this));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(nameFilters);
    const bool chosen = dialog->exec() == QDialog::Accepted;
    if (!alive || !dialog)
        return std::nullopt;
    const QString path = chosen ? dialog->selectedFiles().value(0) : QString();
    delete dialog;
    if (m_dismissed || path.isEmpty())
        return std::nullopt;
    return path;
}

template <typename Work, typename Then>
void AddAccountSheet::readInBackground(Work work, Then then) {
    m_reading = true;
    setStatus(tr("Reading…"));
    const QPointer<AddAccountSheet> self(this);
    QThreadPool::globalInstance()->start([self, work, then] {
        const auto result = work();
        // What the reading took (a parsed export, a decoded picture) is
        // gone: its memory goes back rather than staying with this thread.
        FreedMemory::giveBack();
        QMetaObject::invokeMethod(qApp, [self, result, then] {
            if (!self)
                return;
            self->m_reading = false;
            self->setStatus(QString());
            if (!self->m_dismissed)
                then(self.data(), result);
        });
    });
}

void AddAccountSheet::chooseImage() {
    if (m_working || m_reading)
        return;
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(format).toLower();
        if (!patterns.contains(pattern))
            patterns << pattern;
    }
    const auto path = askForFile({tr("Images (%1)").arg(patterns.join(QLatin1Char(' ')))});
    if (!path || m_reading)
        return;
    // A large picture takes a while to decode and search: off the GUI thread.
    readInBackground(
        [path = *path] {
            std::pair<QRImport::Found, std::exception_ptr> read;
            try {
                read.first = QRImport::readImage(path);
            } catch (...) {
                read.second = std::current_exception();
            }
            return read;
        },
        [](AddAccountSheet* sheet, const std::pair<QRImport::Found, std::exception_ptr>& read) {
            if (read.second)
                sheet->setStatus(QRImport::errorMessage(read.second));
            else
                sheet->finish(read.first.accounts, 0, std::nullopt, read.first.codes);
        });
}

void AddAccountSheet::openFile() {
    const auto path = askForFile({tr("Backups and text (*.2fas *.json *.txt)"), tr("All files (*)")});
    if (!path)
        return;
    const QString name = QFileInfo(*path).fileName();
    // Told before anything is read; a FIFO or a device, which could hold the
    // sheet for ever or never end, is not read at all.
    QByteArray bytes;
    int error = 0;
    switch (RegularFile::read(*path, Limits::maxTextBytes, &bytes, &error)) {
    case RegularFile::Status::ok:
        break;
    case RegularFile::Status::tooLarge:
        setStatus(Limits::fileTooLarge(name));
        return;
    case RegularFile::Status::missing:
        error = ENOENT;
        [[fallthrough]];
    case RegularFile::Status::unreadable:
        // The system's own reason: missing, not permitted, unreadable...
        setStatus(tr("The file “%1” couldn’t be opened: %2")
                      .arg(name, QString::fromLocal8Bit(std::strerror(error))));
        return;
    case RegularFile::Status::notAFile:
        setStatus(tr("The file “%1” couldn’t be opened: it is not a regular file.").arg(name));
        return;
    }
    // Stateless, so that a sequence cut off at the end of the file counts as
    // an error instead of being held back for more bytes that never come.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError()) {
        setStatus(tr("The file “%1” couldn’t be opened using text encoding Unicode (UTF-8).")
                      .arg(name));
        return;
    }
    // The file's text stays out of the editor, which keeps what it held.
    importText(text, std::nullopt);
}

namespace {

// Texts up to this many characters (some hundred links) are read at once;
// a larger export is read on a worker thread, so the sheet keeps answering.
constexpr qsizetype inlineReadChars = 64 * 1024;

} // namespace

void AddAccountSheet::importText(const QString& text, const std::optional<QString>& password) {
    if (m_reading)
        return;
    if (const auto tooLarge = Limits::checkText(text)) {
        setStatus(*tooLarge);
        return;
    }
    const auto read = [](const QString& text, const std::optional<QString>& password,
                         Importers::Import* found) -> std::exception_ptr {
        try {
            *found = Importers::read(text, password);
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    };
    Importers::Import found;
    if (text.size() <= inlineReadChars) {
        const std::exception_ptr error = read(text, password, &found);
        imported(text, found, error);
        return;
    }
    readInBackground(
        [text, password, read] {
            std::pair<Importers::Import, std::exception_ptr> result;
            result.second = read(text, password, &result.first);
            return result;
        },
        [text](AddAccountSheet* sheet,
               const std::pair<Importers::Import, std::exception_ptr>& result) {
            sheet->imported(text, result.first, result.second);
        });
}

void AddAccountSheet::imported(const QString& text, const Importers::Import& found,
                               std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const Importers::ImportError& error) {
        if (error.kind() == Importers::ImportError::needsPassword ||
            error.kind() == Importers::ImportError::wrongPassword) {
            const bool paneWasShown = m_pendingEncryptedText.has_value();
            m_pendingEncryptedText = text;
            m_passwordTitle->setText(tr("%1 backup is password-protected").arg(error.app()));
            setStatus(error.message());
            if (!paneWasShown && m_mode == AddMode::pasteLink) {
                m_password->setFocus();
                // The pane sits below the editor, often beyond the visible
                // part; bring it into view once the layout has placed it.
                QTimer::singleShot(0, this, [this] {
                    m_scroller->ensureWidgetVisible(m_passwordPane);
                });
            }
        } else {
            setStatus(error.message());
        }
        return;
    } catch (...) {
        setStatus(QRImport::errorMessage(std::current_exception()));
        return;
    }
    // The password pane stays while accounts are being stored: should that
    // fail, the user tries again without typing the password anew.
    if (found.accounts.isEmpty()) {
        m_pendingEncryptedText.reset();
        m_password->clear();
    }
    finish(found.accounts, found.unreadable, found.refusal);
}

void AddAccountSheet::decryptAndImport() {
    if (m_pendingEncryptedText)
        importText(*m_pendingEncryptedText, m_password->text());
}

void AddAccountSheet::addManual() {
    QString typed = m_secret->text();
    typed.remove(QLatin1Char(' '));
    if (const auto tooLong = Limits::checkBase32Secret(typed)) {
        setStatus(*tooLong);
        return;
    }
    const std::optional<QByteArray> secret = Base32::decode(typed);
    if (!secret || secret->isEmpty()) {
        setStatus(tr("Secret is not valid Base32."));
        return;
    }
    Account account; // a fresh id, created now
    account.name = Text::trimmedBlanksAndTabs(m_name->text());
    account.issuer = Text::trimmedBlanksAndTabs(m_issuer->text());
    account.secret = *secret;
    account.isSteam = m_steam->isChecked();
    if (account.isSteam) {
        // Steam Guard codes are always these, whatever the hidden rows hold.
        account.type = OTPType::totp;
        account.algorithm = HashAlgorithm::sha1;
        account.digits = 5;
        account.period = 30;
    } else {
        account.type = OTPType(m_type->checkedId());
        account.algorithm = HashAlgorithm(m_algorithm->checkedId());
        account.digits = m_digits->checkedId();
        account.period = m_period->value();
    }
    finish({account});
}

void AddAccountSheet::finish(const QList<Account>& found, int unreadable,
                             const std::optional<QString>& refusal,
                             const std::optional<QRImport::CodeCounts>& codes) {
    if (m_dismissed || m_saving)
        return;
    // Typed, scanned or read: the same rule for every account. Those that
    // break it are left out and counted with what could not be read.
    const Limits::Admission admission = Limits::admit(found);
    const QList<Account>& accounts = admission.accepted;
    const std::optional<QString> codesTold =
        codes ? codesLeftOut(*codes, admission.refused) : std::nullopt;
    if (codesTold) {
        if (accounts.isEmpty()) {
            setStatus(tr("No accounts were imported.") + QLatin1Char(' ') + *codesTold);
            setWorking(false);
            return;
        }
        // Said once they are stored, with how many were; the sheet stays open.
        m_codesTold = {codes->read, int(accounts.size()), *codesTold};
    }
    unreadable += admission.refused;
    const std::optional<QString> why = refusal ? refusal : admission.firstRefusal;
    if (accounts.isEmpty()) {
        // One account turned away is told why; several, how many.
        if (why && unreadable == 1)
            setStatus(*why);
        else if (unreadable > 0)
            setStatus(tr("No accounts were imported. %1 could not be imported.").arg(unreadable));
        else
            setStatus(tr("No accounts were imported."));
        // Whatever found nothing, the sheet stops working and offers its
        // button again; a scan still running is waited for if pressed.
        setWorking(false);
        return;
    }
    // Whatever ends while the owner stores the list (a scan, a second click)
    // finds the sheet busy and hands nothing on.
    m_saving = true;
    m_unreadable = unreadable;
    setStatus(tr("Saving to your keyring…"));
    const QPointer<AddAccountSheet> self(this);
    if (m_onAdd)
        m_onAdd(accounts, [self](const std::optional<QString>& error) {
            if (self)
                self->stored(error);
        });
    else
        stored(std::nullopt);
}

void AddAccountSheet::showStored(int stored, int total) {
    // Those already in the vault are not stored again: what the codes gave
    // is told by the owner's last count.
    if (m_saving && m_codesTold)
        m_codesTold->added = stored;
    if (m_saving && !m_dismissed)
        setStatus(tr("Saving to your keyring… %1 of %2 stored.").arg(stored).arg(total));
}

void AddAccountSheet::stored(const std::optional<QString>& error) {
    if (!m_saving)
        return;
    m_saving = false;
    if (m_dismissed)
        return;
    if (const auto codes = std::exchange(m_codesTold, std::nullopt); codes && !error) {
        const QString read = codes->read == 1 ? tr("Read 1 QR code")
                                              : tr("Read %1 QR codes").arg(codes->read);
        const QString added = codes->added == 1 ? tr("and added 1 account.")
                                                : tr("and added %1 accounts.").arg(codes->added);
        setStatus(read + QLatin1Char(' ') + added + QLatin1Char(' ') + codes->leftOut);
        return;
    }
    if (!error) {
        const QPointer<AddAccountSheet> alive(this);
        if (m_unreadable > 0)
            emit linksUnreadable(m_unreadable);
        if (alive && m_mode == AddMode::imageFile)
            emit imageImported();
        if (alive)
            accept();
        return;
    }
    // The input stays as it was, so the user can try again.
    setStatus(*error);
}

std::optional<QString> AddAccountSheet::codesLeftOut(const QRImport::CodeCounts& codes,
                                                     int refused) const {
    QStringList told;
    if (codes.unreadable > 0)
        told << (codes.unreadable == 1
                     ? tr("1 QR code could not be read.")
                     : tr("%1 QR codes could not be read.").arg(codes.unreadable));
    if (codes.unused > 0)
        told << (codes.unused == 1 ? tr("1 QR code held no account that could be added.")
                                   : tr("%1 QR codes held no account that could be added.")
                                         .arg(codes.unused));
    if (refused > 0)
        told << (refused == 1 ? tr("1 account could not be imported.")
                              : tr("%1 accounts could not be imported.").arg(refused));
    if (told.isEmpty())
        return std::nullopt;
    return told.join(QLatin1Char(' '));
}
