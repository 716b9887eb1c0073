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

} // namespace korvel
