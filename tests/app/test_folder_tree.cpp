// The folder tree control: images by name, check boxes that spread over three
// levels of folders, the bold flags that follow them, the space key and the
// button-down rules.
#include <QApplication>
#include <QLineEdit>

#include "app/ItemListModel.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::sample_path;

using FolderTree = DialogTest;

const QString top = QStringLiteral("Top of Personal Folders");
const QString mlokay = QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)");

bool checked(QTreeWidgetItem *item)
{
    return CFolderTreeCtrl1::IsChecked(item);
}

// Every item below item (not item itself), depth first.
std::vector<QTreeWidgetItem *> descendants(QTreeWidgetItem *item)
{
    std::vector<QTreeWidgetItem *> items;
    for (int i = 0; i < item->childCount(); ++i) {
        items.push_back(item->child(i));
        const auto below = descendants(item->child(i));
        items.insert(items.end(), below.begin(), below.end());
    }
    return items;
}

TEST_F(FolderTree, ImagesFollowTheUpperCasedNameOnlyBelowAParent)
{
    TestDialog dialog;
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    QTreeWidgetItem *root = tree.InsertFolderItem(nullptr, QStringLiteral("Inbox"), 901);
    EXPECT_EQ(tree.ImageOf(root), 0) << "top-level items always get image 0";
    const std::pair<const char *, int> names[] = {
        {"Inbox", 7},         {"INBOX", 7},     {"inbox", 7},        {"Junk E-mail", 0},
        {"Junk E-mails", 9},  {"Calendar", 3},  {"Sync Issues", 14}, {"Sent Items", 12},
        {"Deleted Items", 5}, {"Something", 0},
    };
    std::uintptr_t handle = 902;
    for (const auto &[name, image] : names) {
        QTreeWidgetItem *item = tree.InsertFolderItem(root, QString::fromLatin1(name), handle++);
        EXPECT_EQ(tree.ImageOf(item), image) << name;
        EXPECT_FALSE(item->icon(0).isNull()) << name;
    }
    EXPECT_EQ(tree.TopLevelItem(), root);
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(tree.ItemFromHandle(903)->text(0), QStringLiteral("INBOX"));
}

TEST_F(FolderTree, CheckBoxClicksSpreadOverThreeLevelsAndReachAncestorsWhenAllAreChecked)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, sample_path("enron.pst"));
    fillFolder(dialog, mlokay + QStringLiteral("/Personal"));
    const int rows = dialog.ListModel()->rowCount();
    ASSERT_GT(rows, 0);
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    QTreeWidgetItem *root = tree.topLevelItem(0);
    QTreeWidgetItem *top_item = treeItem(tree, top);
    ASSERT_NE(top_item, nullptr);
    const auto below = descendants(top_item);
    ASSERT_GE(below.size(), 6u);
    for (QTreeWidgetItem *item : descendants(root)) {
        ASSERT_FALSE(checked(item)) << "items start unchecked";
    }
    EXPECT_FALSE(CFolderTreeCtrl1::IsBold(root));

    clickCheckBox(tree, top_item);
    EXPECT_TRUE(checked(top_item));
    for (QTreeWidgetItem *item : below) {
        EXPECT_TRUE(checked(item)) << item->text(0).toStdString();
    }
    EXPECT_FALSE(checked(root)) << "its siblings are still unchecked";
    // A bold child makes its ancestors bold.
    EXPECT_TRUE(CFolderTreeCtrl1::IsBold(root));
    // A check box click selects the item but starts no fill.
    EXPECT_EQ(tree.currentItem(), top_item);
    EXPECT_FALSE(dialog.FillRunning());
    pumpFor(50);
    EXPECT_EQ(dialog.ListModel()->rowCount(), rows);

    // Checking every child of the root checks the root.
    for (int i = 0; i < root->childCount(); ++i) {
        if (!checked(root->child(i))) {
            clickCheckBox(tree, root->child(i));
        }
    }
    EXPECT_TRUE(checked(root));

    // Unchecking a deep folder unchecks it, everything below, and every ancestor.
    QTreeWidgetItem *deep = treeItem(tree, mlokay);
    ASSERT_NE(deep, nullptr);
    clickCheckBox(tree, deep);
    EXPECT_FALSE(checked(deep));
    for (QTreeWidgetItem *item : descendants(deep)) {
        EXPECT_FALSE(checked(item));
    }
    for (QTreeWidgetItem *item = deep->parent(); item != nullptr; item = item->parent()) {
        EXPECT_FALSE(checked(item)) << item->text(0).toStdString();
    }
    EXPECT_TRUE(checked(treeItem(tree, QStringLiteral("Top of Personal Folders/Deleted Items"))));
    EXPECT_EQ(dialog.ListModel()->rowCount(), rows);
}

TEST_F(FolderTree, SpaceCanUncheckAFolderItemButNeverCheckIt)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, sample_path("enron.pst"));
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    QTreeWidgetItem *item = treeItem(tree, mlokay);
    ASSERT_NE(item, nullptr);
    tree.setCurrentItem(item);

    keyClick(&tree, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    pumpFor(50);
    EXPECT_FALSE(checked(item));
    for (QTreeWidgetItem *child : descendants(item)) {
        EXPECT_FALSE(checked(child));
    }

    clickCheckBox(tree, item);
    ASSERT_TRUE(checked(item));
    keyClick(&tree, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    pumpFor(50);
    EXPECT_FALSE(checked(item));
    // The descendants keep their marks: space changes the folder item alone.
    for (QTreeWidgetItem *child : descendants(item)) {
        EXPECT_TRUE(checked(child));
    }
}

TEST_F(FolderTree, SpaceOnItemsWithoutFoldersSpreadsToDescendantsAndMarksBold)
{
    TestDialog dialog;
    dialog.show();
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    // Three levels below a top item, with no folder list behind them.
    QTreeWidgetItem *root = tree.InsertFolderItem(nullptr, QStringLiteral("file.pst"), 801);
    QTreeWidgetItem *a = tree.InsertFolderItem(root, QStringLiteral("A"), 802);
    QTreeWidgetItem *b = tree.InsertFolderItem(a, QStringLiteral("B"), 803);
    QTreeWidgetItem *c = tree.InsertFolderItem(b, QStringLiteral("C"), 804);
    QTreeWidgetItem *sibling = tree.InsertFolderItem(root, QStringLiteral("D"), 805);
    tree.setCurrentItem(a);

    keyClick(&tree, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    pumpFor(20);
    EXPECT_TRUE(checked(a));
    EXPECT_TRUE(checked(b));
    EXPECT_TRUE(checked(c));
    EXPECT_FALSE(checked(sibling));
    EXPECT_TRUE(CFolderTreeCtrl1::IsBold(a));
    EXPECT_TRUE(CFolderTreeCtrl1::IsBold(root));
    EXPECT_FALSE(checked(root));

    keyClick(&tree, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    pumpFor(20);
    EXPECT_FALSE(checked(a));
    EXPECT_FALSE(checked(b));
    EXPECT_FALSE(checked(c));
    EXPECT_FALSE(CFolderTreeCtrl1::IsBold(a));
    EXPECT_FALSE(CFolderTreeCtrl1::IsBold(root));
}

TEST_F(FolderTree, ClickBelowTheLastItemChangesNothingNotEvenTheFocus)
{
    TestDialog dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    QTreeWidgetItem *root = tree.InsertFolderItem(nullptr, QStringLiteral("file.pst"), 701);
    tree.InsertFolderItem(root, QStringLiteral("Inbox"), 702);
    tree.setCurrentItem(nullptr);
    dialog.PathBox()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return dialog.PathBox()->hasFocus(); }, 2000));

    mouseClick(tree.viewport(), QPoint(10, tree.viewport()->height() - 5));
    EXPECT_TRUE(dialog.PathBox()->hasFocus());
    EXPECT_EQ(tree.currentItem(), nullptr);
    EXPECT_FALSE(dialog.FillRunning());
    EXPECT_FALSE(checked(root));

    // A click on a label selects the item and takes the focus.
    clickItem(tree, root->child(0));
    EXPECT_EQ(tree.currentItem(), root->child(0));
    EXPECT_TRUE(tree.hasFocus());
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning(); }));
}

} // namespace
} // namespace korvel::app_testing
