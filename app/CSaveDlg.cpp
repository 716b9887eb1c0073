#include "app/CSaveDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <unordered_set>

#include "app/CFolderTreeCtrl1.h"
#include "app/DialogUnits.h"

namespace korvel {

namespace {

using convert::output_format;

// New formats join here; the dialog, the chooser and the defaults follow.
constexpr SaveFormat format_table[] = {
    {output_format::pst, "PST", "A new Outlook mailbox file (Unicode PST)", false},
    {output_format::mbox, "mbox",
     "\"Mail\": mbox files laid out as a mail program's local folders; beside it, "
     "\"Contacts and Calendars\": vCard (.vcf) and iCalendar (.ics) files",
     true},
    {output_format::eml, "EML",
     "\"Mail\": a folder per mail folder, one .eml file per message; beside it, "
     "\"Contacts and Calendars\": vCard (.vcf) and iCalendar (.ics) files",
     true},
};

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::span<const SaveFormat> SaveFormats()
{
    return format_table;
}

const SaveFormat &SaveFormatOf(output_format format)
{
    for (const SaveFormat &entry : format_table) {
        if (entry.format == format) {
            return entry;
        }
    }
    return format_table[0];
}

CSaveDlg::CSaveDlg(const QString &source, TreeChoice choice, ChooseTarget choose, Ask ask,
                   QWidget *parent)
    : QDialog(parent), m_source(source), m_choice(std::move(choice)), m_choose(std::move(choose)),
      m_ask(std::move(ask))
{
    setObjectName(QStringLiteral("CSaveDlg"));
    setWindowTitle(QStringLiteral("Save Mailbox"));
    setFont(DialogUnits::dialogFont());
    const DialogUnits units(font());

    m_format_box = new QComboBox(this);
    for (const SaveFormat &entry : format_table) {
        m_format_box->addItem(QString::fromLatin1(entry.label));
    }
    m_format_description = new QLabel(this);

    m_target_box = new QLineEdit(this);
    m_target_box->setMinimumWidth(units.x(260));
    m_choose_button = new QPushButton(QStringLiteral("Browse..."), this);
    auto *target_row = new QHBoxLayout;
    target_row->addWidget(m_target_box, 1);
    target_row->addWidget(m_choose_button);

    m_recovered_box =
        new QCheckBox(QStringLiteral("Add the items found outside the folders (\"Recovered "
                                     "Items\")"),
                      this);
    m_recovered_box->setChecked(true);
    if (m_choice.recovered.decided) {
        m_recovered_box->setChecked(m_choice.recovered.saved);
        m_recovered_box->setEnabled(false);
    }

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Source:"), new QLabel(QDir::toNativeSeparators(source), this));
    auto *scope_label = new QLabel(m_choice.scope, this);
    scope_label->setObjectName(QStringLiteral("scope"));
    form->addRow(QStringLiteral("Folders:"), scope_label);
    form->addRow(QStringLiteral("Save as:"), m_format_box);
    form->addRow(QString(), m_format_description);
    form->addRow(QStringLiteral("Save to:"), target_row);
    form->addRow(QString(), m_recovered_box);

    m_ok_button = new QPushButton(QStringLiteral("OK"), this);
    m_ok_button->setDefault(true);
    m_cancel_button = new QPushButton(QStringLiteral("Cancel"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok_button);
    buttons->addWidget(m_cancel_button);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(units.y(4));
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_format_box, &QComboBox::currentIndexChanged, this, &CSaveDlg::OnFormatChanged);
    connect(m_choose_button, &QPushButton::clicked, this, &CSaveDlg::OnBnClickedChoose);
    connect(m_ok_button, &QPushButton::clicked, this, &CSaveDlg::accept);
    connect(m_cancel_button, &QPushButton::clicked, this, &CSaveDlg::reject);

    OnFormatChanged();
}

void CSaveDlg::SelectFormat(output_format format)
{
    for (std::size_t i = 0; i < std::size(format_table); ++i) {
        if (format_table[i].format == format) {
            m_format_box->setCurrentIndex(static_cast<int>(i));
        }
    }
}

output_format CSaveDlg::SelectedFormat() const
{
    const int index = m_format_box->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= std::size(format_table)) {
        return format_table[0].format;
    }
    return format_table[index].format;
}

void CSaveDlg::OnFormatChanged()
{
    const SaveFormat &format = SaveFormatOf(SelectedFormat());
    m_format_description->setText(QString::fromLatin1(format.description));
    const QString next_default =
        fromUtf8(convert::default_save_target(m_source.toStdString(), format.format));
    // A target the user chose stays; an untouched default follows the format.
    if (m_target_box->text().trimmed().isEmpty() || m_target_box->text() == m_default_target) {
        m_target_box->setText(next_default);
    }
    m_default_target = next_default;
}

void CSaveDlg::OnBnClickedChoose()
{
    const SaveFormat &format = SaveFormatOf(SelectedFormat());
    const QString current = TargetPath();
    const QString chosen = m_choose(format, current.isEmpty() ? m_default_target : current);
    if (!chosen.isEmpty()) {
        m_target_box->setText(chosen);
    }
}

QString CSaveDlg::TargetPath() const
{
    const QString typed = m_target_box->text().trimmed();
    if (typed.isEmpty()) {
        return {};
    }
    // A bare name goes beside the source, as the default does.
    return QDir::cleanPath(QFileInfo(m_source).absoluteDir().absoluteFilePath(typed));
}

void CSaveDlg::accept()
{
    const SaveFormat &format = SaveFormatOf(SelectedFormat());
    const QString target = TargetPath();
    const QString shown = QDir::toNativeSeparators(target);
    if (target.isEmpty()) {
        m_ask(QMessageBox::Warning,
              format.directory ? QStringLiteral("Enter the folder to save into.")
                               : QStringLiteral("Enter the name of the new mailbox file."),
              QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    bool replace = false;
    switch (convert::check_save_target(m_source.toStdString(), target.toStdString())) {
    case convert::target_check::ok:
        break;
    case convert::target_check::is_source:
        m_ask(QMessageBox::Critical,
              QStringLiteral("%1\nis the mailbox being repaired: it is only ever read, never "
                             "written. Choose another name.")
                  .arg(shown),
              QMessageBox::Ok, QMessageBox::Ok);
        return;
    case convert::target_check::no_directory:
        m_ask(QMessageBox::Critical,
              QStringLiteral("The folder\n%1\ndoes not exist. Choose an existing folder.")
                  .arg(QDir::toNativeSeparators(QFileInfo(target).absolutePath())),
              QMessageBox::Ok, QMessageBox::Ok);
        return;
    case convert::target_check::exists:
        if (m_ask(QMessageBox::Question,
                  QStringLiteral("%1\nalready exists. Do you want to replace it?").arg(shown),
                  // A stray Enter must not destroy the file.
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
            return;
        }
        replace = true;
        break;
    }
    m_request = convert::save_request{};
    m_request.target = target.toStdString();
    m_request.format = format.format;
    m_request.recovered_items = m_recovered_box->isChecked();
    m_request.replace_existing = replace;
    m_request.folders = m_choice.folders;
    m_request.recovered_only = m_choice.recovered.only;
    QDialog::accept();
}

std::vector<libpff_item_t *> CSaveDlg::CheckedFolders(const CFolderTreeCtrl1 &tree,
                                                      const folder_list &folders,
                                                      QStringList *names)
{
    // The mailbox's own item checked: everything, items of the root folder
    // and those found outside the folders too.
    const QTreeWidgetItem *root = tree.topLevelItemCount() > 0 ? tree.topLevelItem(0) : nullptr;
    if (root == nullptr || CFolderTreeCtrl1::IsChecked(root)) {
        return {};
    }
    std::unordered_set<tree_item> checked;
    for (const folder_node *node = folders.head; node != nullptr; node = node->next) {
        const QTreeWidgetItem *item = tree.ItemFromHandle(node->item);
        if (item != nullptr && CFolderTreeCtrl1::IsChecked(item)) {
            checked.insert(node->item);
        }
    }
    // A checked folder takes all its sub-folders along: those below it are
    // not listed again.
    std::vector<libpff_item_t *> result;
    for (const folder_node *node = folders.head; node != nullptr; node = node->next) {
        if (checked.count(node->item) != 0 && checked.count(node->parent_tree_item) == 0) {
            result.push_back(node->folder_item);
            if (names != nullptr) {
                names->append(tree.ItemFromHandle(node->item)->text(0));
            }
        }
    }
    return result;
}

CSaveDlg::RecoveredChoice CSaveDlg::RecoveredItemsChoice(const CFolderTreeCtrl1 &tree,
                                                         tree_item node_item, bool folders_checked,
                                                         QStringList &names)
{
    RecoveredChoice choice;
    const QTreeWidgetItem *node = tree.ItemFromHandle(node_item);
    const QTreeWidgetItem *root = tree.topLevelItemCount() > 0 ? tree.topLevelItem(0) : nullptr;
    if (node == nullptr || root == nullptr || CFolderTreeCtrl1::IsChecked(root)) {
        // No node, or everything checked: the dialog's option decides (it
        // opens ticked).
        return choice;
    }
    const bool checked = CFolderTreeCtrl1::IsChecked(node);
    if (!checked && !folders_checked) {
        return choice; // nothing checked: the whole mailbox
    }
    choice.decided = true;
    choice.saved = checked;
    choice.only = checked && !folders_checked;
    if (checked) {
        names.append(QString::fromStdU16String(recovered_node_name));
    }
    return choice;
}

CSaveDlg::TreeChoice CSaveDlg::ChoiceFromTree(const CFolderTreeCtrl1 &tree, const scan_state &state)
{
    TreeChoice choice;
    QStringList names;
    choice.folders = CheckedFolders(tree, state.folders, &names);
    choice.recovered =
        RecoveredItemsChoice(tree, state.recovered.node, !choice.folders.empty(), names);
    choice.scope = ScopeText(names);
    return choice;
}

QString CSaveDlg::ScopeText(const QStringList &names)
{
    if (names.isEmpty()) {
        return QStringLiteral("The whole mailbox (no folder is checked)");
    }
    constexpr qsizetype named = 3;
    QString list = names.mid(0, named).join(QStringLiteral(", "));
    if (names.size() > named) {
        list += QStringLiteral(" and %1 more").arg(names.size() - named);
    }
    return names.size() == 1 ? QStringLiteral("%1 (with its sub-folders)").arg(list)
                             : QStringLiteral("%1 (with their sub-folders)").arg(list);
}

bool CSaveDlg::ReportFor(int result, const convert::save_report &report, const QString &target,
                         ReportBox &box)
{
    if (result == 0 || (result != 1 && report.stopped)) {
        return false;
    }
    QStringList details;
    for (const std::string &line : report.unreadable) {
        details.append(fromUtf8(line));
    }
    box.details = details.join(QLatin1Char('\n'));
    const QString counts =
        QStringLiteral("Folders saved: %1\nItems saved: %2\nItems recovered: %3\n"
                       "Items that could not be read: %4")
            .arg(report.folders)
            .arg(report.items)
            .arg(report.recovered)
            .arg(report.unreadable.size());
    const QString left_out =
        report.skipped == 0
            ? QString()
            : QStringLiteral("\nItems this format does not take: %1").arg(report.skipped);
    if (result != 1) {
        box.icon = QMessageBox::Critical;
        const QString cause =
            report.failure.empty() ? QStringLiteral("unknown error") : fromUtf8(report.failure);
        // The cause names the target.
        box.text =
            QStringLiteral("The mailbox could not be saved.\n\n%1\n\nNothing was left behind.")
                .arg(cause);
        return true;
    }
    box.icon = report.unreadable.empty() ? QMessageBox::Information : QMessageBox::Warning;
    box.text = QStringLiteral("The mailbox was saved to\n%1\n\n%2%3")
                   .arg(QDir::toNativeSeparators(target), counts, left_out);
    for (const std::string &note : report.notes) {
        box.text += QStringLiteral("\n\n") + fromUtf8(note);
    }
    if (!report.unreadable.empty()) {
        box.text += QStringLiteral("\n\nShow Details lists the items that could not be read.");
    }
    return true;
}

} // namespace korvel
