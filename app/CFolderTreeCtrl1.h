// The folder tree: the well-known-folder image list and the image choice by
// name, a button-down handling that selects the clicked item first, and check
// boxes whose marks spread to descendants and ancestors, with a bold flag that
// spreads to ancestors.
#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace korvel {

class CFolderTreeCtrl1 : public QTreeWidget
{
    Q_OBJECT

public:
    // The images of the folder image list.
    static constexpr int image_count = 17;
    // The image of the "Recovered Items" node and its children, after the
    // folder images.
    static constexpr int recovered_image = image_count;

    explicit CFolderTreeCtrl1(QWidget *parent = nullptr);

    // Loads the seventeen folder icons in image-list order.
    void BuildImageList();
    // The image a folder inserted under a parent gets: its upper-cased name
    // against the well-known names, 0 when none matches.
    static int ImageForName(const QString &text);

    // Appends an item with the given handle as the last child of parent
    // (nullptr: the top level, image 0) and expands the top-level item, then
    // the parent. recovered: the recovered-items image, whatever the name.
    QTreeWidgetItem *InsertFolderItem(QTreeWidgetItem *parent, const QString &text,
                                      std::uintptr_t handle, bool recovered = false);
    void DeleteAllItems();
    QTreeWidgetItem *ItemFromHandle(std::uintptr_t handle) const;
    std::uintptr_t HandleOf(const QTreeWidgetItem *item) const;
    int ImageOf(const QTreeWidgetItem *item) const;
    QTreeWidgetItem *TopLevelItem() const { return m_top_level_item; }

    // Check marks: an item counts as checked unless it shows the unchecked box.
    static bool IsChecked(const QTreeWidgetItem *item);
    static void SetChecked(QTreeWidgetItem *item, bool checked);
    static bool IsBold(const QTreeWidgetItem *item);
    static void SetBold(QTreeWidgetItem *item, bool bold);
    // Depth first: each child, then its own descendants.
    static void SetDescendantsChecked(QTreeWidgetItem *item, bool checked);
    // From the parent up: checked when every child counts as checked.
    static void UpdateAncestorChecks(QTreeWidgetItem *item);
    // From the parent up: bold when at least one child is bold.
    static void UpdateAncestorBold(QTreeWidgetItem *item);
    // An item's new mark taken to its descendants, then its ancestors' marks
    // and bold flags brought in line.
    static void SpreadCheck(QTreeWidgetItem *item, bool check);
    // The mouse toggle of an item's check box, with its spreading.
    static void ToggleCheckByMouse(QTreeWidgetItem *item);
    // The space key's spreading, done before the control's own toggle
    // changes the item itself: its descendants and bold flag take the mark it
    // is about to get, then the ancestors follow.
    static void SpreadBeforeKeyToggle(QTreeWidgetItem *item);

    // Where an item's check box is drawn, in viewport coordinates.
    QRect CheckBoxRect(const QTreeWidgetItem *item) const;

signals:
    // A left click that the control handled itself (not on a check box).
    void treeClicked();
    // A key press, before the control's own handling of it.
    void treeKeyDown(int key);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The item most recently inserted at the top level.
    QTreeWidgetItem *m_top_level_item = nullptr;
    // The folder images, in image-list order, then the recovered-items image.
    std::vector<QIcon> m_folder_images;
    // Handle to item, for the handles the engine keeps.
    std::unordered_map<std::uintptr_t, QTreeWidgetItem *> m_items;
    // A button-down that the control handled is waiting for its button-up.
    bool m_click_pending = false;
};

} // namespace korvel
