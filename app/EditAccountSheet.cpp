#include "app/EditAccountSheet.h"

#include "core/AccountStore.h"
#include "core/Text.h"
#include "platform/look/Picker.h"
#include "platform/look/ScreenReader.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBoundaryFinder>
#include <QtMath>
#include <QVBoxLayout>
#include <climits>

namespace {

// The first `limit` user-perceived characters (grapheme clusters) of the
// text: an emoji or a letter with a combining accent counts as one, so a cut
// never splits one in half.
QString firstCharacters(const QString& text, qsizetype limit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        if (++count == limit)
            return text.left(finder.position());
    }
    return text;
}

// A text box exactly `lines` lines tall whatever it holds; longer text
// scrolls inside it. The text box wants one pixel beyond its document's
// height before it shows the last line without a scroll bar.
void reserveLines(QPlainTextEdit* edit, int lines) {
    const QFontMetricsF metrics(edit->font());
    const qreal document = metrics.lineSpacing() * lines + 2 * edit->document()->documentMargin();
    edit->setFixedHeight(qCeil(document) + 1 + 2 * edit->frameWidth());
}

QPlainTextEdit* textBox(const QString& placeholder) {
    auto* edit = new QPlainTextEdit;
    edit->setPlaceholderText(placeholder);
    // Tab moves on to the next field, as in every other field of the form.
    edit->setTabChangesFocus(true);
    return edit;
}

QLineEdit* lineEdit(const QString& placeholder) {
    auto* edit = new QLineEdit;
    edit->setPlaceholderText(placeholder);
    // QLineEdit cuts at 32767 characters by default; a field must show all
    // of what is stored, or an untouched Save would shorten it.
    edit->setMaxLength(INT_MAX);
    return edit;
}

} // namespace

EditAccountSheet::EditAccountSheet(AccountStore& store, const Account& account,
                                   std::function<void(const Account&)> onSave, QWidget* parent)
    : QDialog(parent), m_store(store), m_account(account), m_onSave(std::move(onSave)),
      m_folderID(account.folderID) {
    setWindowTitle(tr("Edit account"));
    setFixedSize(Style::points(420), Style::points(560));
    if (parent)
        setWindowModality(Qt::WindowModal);

    // Account
    m_issuer = lineEdit(tr("Service (issuer)"));
    m_issuer->setText(account.issuer);
    m_name = lineEdit(tr("Account name"));
    m_name->setText(account.name);
    // Each field labelled where it is seen, and by its label for a screen
    // reader (a placeholder is gone once the field holds text).
    auto* accountGroup = new QGroupBox(tr("Account"));
    auto* accountLayout = new QFormLayout(accountGroup);
    accountLayout->addRow(tr("Service"), m_issuer);
    accountLayout->addRow(tr("Name"), m_name);
    m_issuer->setAccessibleName(tr("Service"));
    m_name->setAccessibleName(tr("Name"));

    // Folder
    m_folder = new Picker;
    fillFolders();
    connect(m_folder, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index == 0)
            m_folderID.reset();
        else if (index > 0)
            m_folderID = m_folder->itemData(index).toUuid();
    });
    // Folders may arrive from another device while the sheet is open.
    connect(&m_store, &AccountStore::foldersChanged, this, &EditAccountSheet::fillFolders);
    auto* newFolder = new QPushButton(Symbols::icon(QStringLiteral("folder.badge.plus")),
                                      tr("New folder…"));
    auto* folderGroup = new QGroupBox(tr("Folder"));
    auto* folderLayout = new QFormLayout(folderGroup);
    // The group's title names the picker: a label beside it would say
    // "Folder" a second time.
    m_folder->setAccessibleName(tr("Folder"));
    folderLayout->addRow(m_folder);
    folderLayout->addRow(newFolder);
    folderLayout->setAlignment(newFolder, Qt::AlignLeft);

    // Recovery codes: backup codes are typed exactly, so nothing may be
    // corrected, predicted or remembered by an input method.
    m_recoveryCodes = textBox(tr("Paste the one-time backup codes the service gave you…"));
    QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (const qreal body = Style::font(Style::TextStyle::body).pointSizeF(); body > 0)
        monospaced.setPointSizeF(body);
    m_recoveryCodes->setFont(monospaced);
    m_recoveryCodes->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                         Qt::ImhSensitiveData);
    m_recoveryCodes->setPlainText(account.recoveryCodes);
    // Its section's title is a label of its own, not a frame's title a
    // screen reader would take for the field's name.
    m_recoveryCodes->setAccessibleName(tr("Recovery codes"));
    reserveLines(m_recoveryCodes, 4);
    auto* footer = new QLabel(tr("Kept encrypted with this account in your keyring. "
                                 "If you ever lose your device, these get you back in."));
    footer->setWordWrap(true);
    footer->setFont(Style::font(Style::TextStyle::footnote));
    Style::setTextColor(footer, Style::color(Style::SemanticColor::secondary));
    // A frame's title cannot carry a symbol: this section's header is a row
    // of its own, the key symbol before the title.
    auto* recoveryGroup = new QGroupBox;
    recoveryGroup->setAccessibleName(tr("Recovery codes"));
    auto* recoveryLayout = new QVBoxLayout(recoveryGroup);
    auto* recoveryHeader = new QHBoxLayout;
    recoveryHeader->setSpacing(6);
    QLabel* recoveryTitle = Style::label(tr("Recovery codes"), Style::TextStyle::body, std::nullopt,
                                         QFont::DemiBold);
    auto* key = new QLabel;
    const int keySize = QFontMetrics(recoveryTitle->font()).height();
    key->setPixmap(Symbols::pixmap(QStringLiteral("key.horizontal"), keySize,
                                   Style::color(Style::SemanticColor::primary), devicePixelRatioF()));
    ScreenReader::setHidden(key);
    recoveryHeader->addWidget(key);
    recoveryHeader->addWidget(recoveryTitle, 1);
    recoveryLayout->addLayout(recoveryHeader);
    recoveryLayout->addWidget(m_recoveryCodes);
    recoveryLayout->addWidget(footer);

    // Note
    m_note = textBox(tr("Which email, hints, anything worth remembering…"));
    m_note->setPlainText(account.note);
    reserveLines(m_note, 3);
    auto* noteGroup = new QGroupBox(tr("Note"));
    auto* noteLayout = new QVBoxLayout(noteGroup);
    noteLayout->addWidget(m_note);

    m_startNote = plainText(m_note);
    m_startRecoveryCodes = plainText(m_recoveryCodes);

    // The form scrolls rather than squeezing its fields when a large font
    // makes it taller than the fixed window.
    auto* form = new QWidget;
    auto* formLayout = new QVBoxLayout(form);
    formLayout->addWidget(accountGroup);
    formLayout->addWidget(folderGroup);
    formLayout->addWidget(recoveryGroup);
    formLayout->addWidget(noteGroup);
    formLayout->addStretch();
    auto* scroll = new QScrollArea;
    scroll->setWidget(form);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    QPushButton* saveButton = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &EditAccountSheet::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    auto* buttonRow = new QVBoxLayout;
    buttonRow->setContentsMargins(12, 0, 12, 12);
    buttonRow->addWidget(buttons);
    layout->addLayout(buttonRow);
    // Only now that it sits in the dialog: a button made default outside it
    // is not known to the dialog, which would then make the first button in
    // the focus chain ("New folder…") default as well and press that on
    // Return.
    saveButton->setDefault(true);

    // The new-folder prompt, kept for the life of the sheet; open() makes it
    // modal to the sheet without blocking.
    m_prompt = new QDialog(this);
    m_prompt->setObjectName(QStringLiteral("newFolderPrompt"));
    m_prompt->setWindowTitle(tr("New folder"));
    m_newFolderName = lineEdit(tr("Folder name"));
    auto* promptButtons = new QDialogButtonBox;
    promptButtons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    QPushButton* create = promptButtons->addButton(tr("Create"), QDialogButtonBox::AcceptRole);
    connect(promptButtons, &QDialogButtonBox::accepted, m_prompt, &QDialog::accept);
    connect(promptButtons, &QDialogButtonBox::rejected, m_prompt, &QDialog::reject);
    auto* promptLayout = new QVBoxLayout(m_prompt);
    auto* promptText = new QLabel(tr("Group accounts you want to keep together."));
    promptText->setWordWrap(true);
    promptLayout->addWidget(promptText);
    promptLayout->addWidget(m_newFolderName);
    promptLayout->addWidget(promptButtons);
    create->setDefault(true);
    Style::fitHeightToWidth(m_prompt);
    connect(m_prompt, &QDialog::accepted, this, &EditAccountSheet::createFolder);
    connect(m_prompt, &QDialog::rejected, m_newFolderName, &QLineEdit::clear);
    connect(newFolder, &QPushButton::clicked, this, [this] {
        m_newFolderName->setFocus();
        m_prompt->open();
    });
}

void EditAccountSheet::fillFolders() {
    const QSignalBlocker blocker(m_folder);
    m_folder->clear();
    m_folder->addItem(tr("None"));
    for (const Folder& folder : m_store.folders())
        m_folder->addItem(Symbols::icon(folder.symbol), folder.name, folder.id);
    // A chosen folder that is no longer listed shows as no choice at all,
    // while the sheet keeps it: only the user changes the choice.
    m_folder->setCurrentIndex(m_folderID ? m_folder->findData(*m_folderID) : 0);
}

void EditAccountSheet::createFolder() {
    // The store trims the name and hands back an existing folder whose name
    // differs only in case.
    // A name over the size limit makes none; the main window says why.
    const auto folder = m_store.addFolder(m_newFolderName->text(), QStringLiteral("folder"));
    if (!folder)
        return;
    m_folderID = folder->id;
    fillFolders();
    m_newFolderName->clear();
}

QString EditAccountSheet::plainText(const QPlainTextEdit* edit) {
    // toPlainText() would turn no-break spaces into spaces; recovery codes
    // pasted from a web page must come back as they went in.
    return edit->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

void EditAccountSheet::save() {
    // Two faults of a plain "copy with the edited fields" are mended here:
    // - The copy is as old as the sheet. Meanwhile the hotkey may have
    //   advanced an HOTP counter or the tray toggled the favourite; handing
    //   the copy back would undo that. So we start from the store's current
    //   account (the copy only when it is gone) and set only what this sheet
    //   edits; note and recovery codes only when the user changed them.
    // - The length limits cut only text the user edited: a longer note that
    //   came in by import or from another device is not shortened by a Save
    //   that never touched it.
    Account edited = m_account;
    for (const Account& current : m_store.accounts()) {
        if (current.id == m_account.id) {
            edited = current;
            break;
        }
    }
    edited.issuer = Text::trimmedBlanksAndTabs(m_issuer->text());
    edited.name = Text::trimmedBlanksAndTabs(m_name->text());
    edited.folderID = m_folderID;
    if (const QString note = plainText(m_note); note != m_startNote)
        edited.note = firstCharacters(note, noteLimit);
    if (const QString codes = plainText(m_recoveryCodes); codes != m_startRecoveryCodes)
        edited.recoveryCodes = firstCharacters(codes, recoveryCodesLimit);

    const QPointer<EditAccountSheet> alive(this);
    if (m_onSave)
        m_onSave(edited);
    if (alive)
        accept();
}
