#include "app/FolderManagerView.h"

#include "app/SheetList.h"
#include "app/StoreProblemLine.h"
#include "core/AccountStore.h"
#include "core/Text.h"
#include "platform/look/FittedText.h"
#include "platform/look/Style.h"
#include "platform/look/Symbols.h"

#include <QAction>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The add field runs Add on Return and keeps the key to itself, so that it
// does not reach the sheet's default button ("Done") as well.
class SubmitFilter : public QObject {
public:
    SubmitFilter(QObject* parent, std::function<void()> submit)
        : QObject(parent), m_submit(std::move(submit)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_submit();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_submit;
};

} // namespace

FolderManagerView::FolderManagerView(AccountStore& store, QWidget* parent)
    : QWidget(parent), m_store(store) {
    setWindowTitle(tr("Folders"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_problem = new StoreProblemLine(m_store, StoreProblemLine::Scope::screen, this);
    layout->addWidget(m_problem);
    auto* list = new SheetList(this);
    layout->addWidget(list);

    const SheetList::Section folders = list->addSection(
        tr("Folders"), tr("Deleting a folder keeps its accounts — they just become ungrouped."));
    m_empty = Style::label(tr("No folders yet. Add one below to start organizing your accounts."),
                           Style::TextStyle::body, Style::SemanticColor::secondary);
    m_empty->setWordWrap(true);
    folders.rows->addWidget(m_empty);
    m_rows = new QVBoxLayout;
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(2);
    folders.rows->addLayout(m_rows);

    const SheetList::Section adding = list->addSection(tr("Add a folder"));
    auto* row = new QHBoxLayout;
    m_newName = new QLineEdit;
    m_newName->setPlaceholderText(tr("Folder name"));
    m_newName->setAccessibleName(tr("Folder name"));
    m_newName->installEventFilter(new SubmitFilter(m_newName, [this] { add(); }));
    row->addWidget(m_newName, 1);
    m_add = new QPushButton(tr("Add"));
    m_add->setAutoDefault(false);
    connect(m_add, &QPushButton::clicked, this, &FolderManagerView::add);
    row->addWidget(m_add);
    adding.rows->addLayout(row);
    connect(m_newName, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_add->setEnabled(!Text::trimmedBlanksAndTabs(text).isEmpty());
    });
    m_add->setEnabled(false);

    connect(&m_store, &AccountStore::foldersChanged, this, &FolderManagerView::refresh);
    connect(&m_store, &AccountStore::accountsChanged, this, &FolderManagerView::refresh);
    refresh();
}

void FolderManagerView::refresh() {
    SheetList::clearRows(m_rows);
    const QList<Folder>& folders = m_store.folders();
    m_empty->setVisible(folders.isEmpty());
    for (const Folder& folder : folders) {
        auto* row = new SheetListRow;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(6, 5, 6, 5);
        line->setSpacing(10);
        auto* symbol = new QLabel;
        symbol->setPixmap(Symbols::pixmap(folder.symbol, 16,
                                          Style::color(Style::SemanticColor::accent),
                                          devicePixelRatioF()));
        symbol->setFixedWidth(22);
        symbol->setAlignment(Qt::AlignCenter);
        line->addWidget(symbol);
        // A long name is cut with "…", whole in its tooltip.
        line->addWidget(Style::elidedLabel(folder.name, Style::TextStyle::body), 1);
        const int count = m_store.accountsInFolder(folder.id);
        auto* number = new QLabel(QString::number(count));
        number->setFont(Style::font(Style::TextStyle::body, QFont::Normal, true));
        Style::setTextColor(number, Style::color(Style::SemanticColor::secondary));
        line->addWidget(number);
        row->setAccessibleName(folder.name);

        auto* rename = new QAction(Symbols::icon(QStringLiteral("pencil")), tr("Rename"), row);
        connect(rename, &QAction::triggered, this, [this, folder] { startRename(folder); });
        auto* remove = new QAction(Symbols::icon(QStringLiteral("trash")), tr("Delete"), row);
        connect(remove, &QAction::triggered, this, [this, id = folder.id] { this->remove(id); });
        row->addActions({rename, remove});
        m_rows->addWidget(row);
    }
}

void FolderManagerView::add() {
    const QString trimmed = Text::trimmedBlanksAndTabs(m_newName->text());
    if (trimmed.isEmpty())
        return;
    // A name the store refused stays in the field, beside the reason.
    if (m_problem->run([&] { m_store.addFolder(trimmed, QStringLiteral("folder")); },
                       tr("The folder was not added.")))
        m_newName->clear();
}

void FolderManagerView::startRename(const Folder& folder) {
    m_renaming = folder;
    m_renameText = folder.name;
    delete m_prompt;
    auto* prompt = new QDialog(this);
    m_prompt = prompt;
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->setWindowModality(Qt::WindowModal);
    prompt->setWindowTitle(tr("Rename folder"));
    auto* column = new QVBoxLayout(prompt);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addWidget(Style::label(tr("Rename folder"), Style::TextStyle::headline));
    auto* field = new QLineEdit(m_renameText);
    field->setPlaceholderText(tr("Name"));
    field->setAccessibleName(tr("Name"));
    field->setMinimumWidth(240);
    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) { m_renameText = text; });
    column->addWidget(field);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &FolderManagerView::cancelRename);
    auto* save = new QPushButton(tr("Save"));
    connect(save, &QPushButton::clicked, this, &FolderManagerView::commitRename);
    // In the desktop's order, as in every other dialog.
    const bool saveFirst = Style::acceptButtonFirst(prompt);
    buttons->addWidget(saveFirst ? save : cancel);
    buttons->addWidget(saveFirst ? cancel : save);
    column->addLayout(buttons);
    save->setDefault(true);
    // Closed any other way (Escape, the window's close button): nothing renamed.
    connect(prompt, &QDialog::finished, this, [this, prompt] {
        if (m_prompt == prompt)
            m_renaming.reset();
    });
    prompt->open();
    field->selectAll();
    field->setFocus();
}

void FolderManagerView::commitRename() {
    if (m_renaming)
        m_problem->run([this] { m_store.renameFolder(m_renaming->id, m_renameText); },
                       tr("The folder was not renamed."));
    cancelRename();
}

void FolderManagerView::cancelRename() {
    m_renaming.reset();
    if (m_prompt)
        m_prompt->close();
}

void FolderManagerView::remove(const QUuid& folderID) {
    m_problem->run([&] { m_store.deleteFolder(folderID); },
                   tr("Some of its accounts could not be stored without the folder; they still "
                      "name it."));
}
