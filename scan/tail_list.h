// The engine's singly linked lists (folder list, item record list) append at
// a tail pointer, so building a list of any size stays linear.
#pragma once

namespace korvel {

// Links node (whose next is nullptr) after the last node of list; list has
// head, tail and count members.
template <typename List, typename Node> void tail_list_link(List *list, Node *node)
{
    if (list->tail == nullptr) {
        list->head = node;
    } else {
        list->tail->next = node;
    }
    list->tail = node;
    ++list->count;
}

// Deletes every node of list (release(node) first lets go of what the node
// holds) and leaves list empty. A null list is left alone.
template <typename List, typename Release> void tail_list_free(List *list, Release release)
{
    if (list == nullptr) {
        return;
    }
    auto *node = list->head;
    while (node != nullptr) {
        auto *next = node->next;
        release(node);
        delete node;
        node = next;
    }
    *list = List{};
}

} // namespace korvel
