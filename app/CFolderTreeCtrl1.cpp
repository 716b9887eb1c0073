#include "app/CFolderTreeCtrl1.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionViewItem>

#include "app/resource_ids.h"
#include "scan/folder_images.h"

namespace korvel {

namespace {

// Item data roles of our own.
constexpr int handle_role = Qt::UserRole + 1;
constexpr int image_role = Qt::UserRole + 2;

} // namespace

CFolderTreeCtrl1::CFolderTreeCtrl1(QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    header()->hide();
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabKeyNavigation(false);
    // The horizontal scroll bar follows the widest name.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

void CFolderTreeCtrl1::BuildImageList()
{
    m_folder_images.clear();
    for (int resource : ids::folder_icon_resources) {
        m_folder_images.emplace_back(QString::fromLatin1(ids::resource_prefix) +
                                     QString::number(resource));
    }
    m_folder_images.emplace_back(QString::fromLatin1(ids::resource_prefix) +
                                 QString::number(ids::recovered_icon_resource));
}

int CFolderTreeCtrl1::ImageForName(const QString &text)
{
    return folder_image_for_name(text.toStdU16String(), false);
}

QTreeWidgetItem *CFolderTreeCtrl1::InsertFolderItem(QTreeWidgetItem *parent, const QString &text,
                                                    std::uintptr_t handle, bool recovered)
{
    auto *item = new QTreeWidgetItem(QStringList{text});
    const int image = recovered ? recovered_image : parent == nullptr ? 0 : ImageForName(text);
    item->setData(0, image_role, image);
    item->setData(0, handle_role, QVariant::fromValue<qulonglong>(handle));
    if (static_cast<std::size_t>(image) < m_folder_images.size()) {
        item->setIcon(0, m_folder_images[static_cast<std::size_t>(image)]);
    }
    // The check box is ours to toggle (mouse and space rules), not the view's.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(0, Qt::Unchecked);
    if (parent == nullptr) {
        addTopLevelItem(item);
        m_top_level_item = item;
    } else {
        parent->addChild(item);
    }
    m_items[handle] = item;
    if (m_top_level_item != nullptr) {
        m_top_level_item->setExpanded(true);
    }
    if (parent != nullptr) {
        parent->setExpanded(true);
    }
    return item;
}

void CFolderTreeCtrl1::DeleteAllItems()
{
    m_items.clear();
    m_top_level_item = nullptr;
    clear();
}

QTreeWidgetItem *CFolderTreeCtrl1::ItemFromHandle(std::uintptr_t handle) const
{
    const auto found = m_items.find(handle);
    return found == m_items.end() ? nullptr : found->second;
}

std::uintptr_t CFolderTreeCtrl1::HandleOf(const QTreeWidgetItem *item) const
{
    if (item == nullptr) {
        return 0;
    }
    return static_cast<std::uintptr_t>(item->data(0, handle_role).toULongLong());
}

int CFolderTreeCtrl1::ImageOf(const QTreeWidgetItem *item) const
{
    return item == nullptr ? -1 : item->data(0, image_role).toInt();
}

bool CFolderTreeCtrl1::IsChecked(const QTreeWidgetItem *item)
{
    const QVariant state = item->data(0, Qt::CheckStateRole);
    return !state.isValid() || state.toInt() != Qt::Unchecked;
}

void CFolderTreeCtrl1::SetChecked(QTreeWidgetItem *item, bool checked)
{
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

bool CFolderTreeCtrl1::IsBold(const QTreeWidgetItem *item)
{
    return item->font(0).bold();
}

void CFolderTreeCtrl1::SetBold(QTreeWidgetItem *item, bool bold)
{
    QFont font = item->font(0);
    if (font.bold() != bold) {
        font.setBold(bold);
        item->setFont(0, font);
    }
}

void CFolderTreeCtrl1::SetDescendantsChecked(QTreeWidgetItem *item, bool checked)
{
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem *child = item->child(i);
        SetChecked(child, checked);
        SetDescendantsChecked(child, checked);
    }
}

void CFolderTreeCtrl1::UpdateAncestorChecks(QTreeWidgetItem *item)
{
    for (QTreeWidgetItem *ancestor = item->parent(); ancestor != nullptr;
         ancestor = ancestor->parent()) {
        bool all_checked = true;
        for (int i = 0; i < ancestor->childCount() && all_checked; ++i) {
            all_checked = IsChecked(ancestor->child(i));
        }
        SetChecked(ancestor, all_checked);
    }
}

void CFolderTreeCtrl1::UpdateAncestorBold(QTreeWidgetItem *item)
{
    for (QTreeWidgetItem *ancestor = item->parent(); ancestor != nullptr;
         ancestor = ancestor->parent()) {
        bool any_bold = false;
        for (int i = 0; i < ancestor->childCount() && !any_bold; ++i) {
            any_bold = IsBold(ancestor->child(i));
        }
        SetBold(ancestor, any_bold);
    }
}

void CFolderTreeCtrl1::SpreadCheck(QTreeWidgetItem *item, bool check)
{
    SetDescendantsChecked(item, check);
    UpdateAncestorChecks(item);
    UpdateAncestorBold(item);
}

void CFolderTreeCtrl1::ToggleCheckByMouse(QTreeWidgetItem *item)
{
    const bool check = !IsChecked(item);
    SetChecked(item, check);
    SpreadCheck(item, check);
}

void CFolderTreeCtrl1::SpreadBeforeKeyToggle(QTreeWidgetItem *item)
{
    const bool check = !IsChecked(item);
    SetBold(item, check);
    SpreadCheck(item, check);
}

QRect CFolderTreeCtrl1::CheckBoxRect(const QTreeWidgetItem *item) const
{
    const QModelIndex index = indexFromItem(item);
    if (!index.isValid()) {
        return {};
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.index = index;
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item->checkState(0);
    option.text = item->text(0);
    if (!item->icon(0).isNull()) {
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.icon = item->icon(0);
        option.decorationSize = iconSize();
    }
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void CFolderTreeCtrl1::mousePressEvent(QMouseEvent *event)
{
    m_click_pending = false;
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    QTreeWidgetItem *item = itemAt(event->position().toPoint());
    if (item == nullptr) {
        // Nothing there: not even the focus moves.
        return;
    }
    setCurrentItem(item);
    setFocus(Qt::MouseFocusReason);
    if (CheckBoxRect(item).contains(event->position().toPoint())) {
        ToggleCheckByMouse(item);
        return;
    }
    QTreeWidget::mousePressEvent(event);
    m_click_pending = true;
}

void CFolderTreeCtrl1::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && m_click_pending) {
        m_click_pending = false;
        emit treeClicked();
    }
}

void CFolderTreeCtrl1::keyPressEvent(QKeyEvent *event)
{
    emit treeKeyDown(event->key());
    if (event->key() == Qt::Key_Space) {
        // The control's own toggle: the selected item alone.
        if (QTreeWidgetItem *item = currentItem()) {
            SetChecked(item, !IsChecked(item));
        }
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

} // namespace korvel
