// Property lists from any bytes. Beyond crashes and failed assertions, it holds the limits to
// their promise: whatever they admit, libplist builds no deeper than the limit, and for XML the
// depth they foresee is the depth libplist builds.
#include "platform/property_list.h"
#include "platform/property_list_limits.h"

#include <cstdlib>
#include <plist/plist.h>
#include <vector>

namespace {

// Iterative, so that an overly deep tree is reported instead of overflowing the stack here.
int depthOf(plist_t root)
{
    struct Item
    {
        plist_t node;
        int depth;
    };
    std::vector<Item> stack{{root, 1}};
    int deepest = 0;
    while (!stack.empty()) {
        const Item item = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, item.depth);
        const plist_type type = plist_get_node_type(item.node);
        if (type != PLIST_ARRAY && type != PLIST_DICT) continue;
        void* iter = nullptr;
        if (type == PLIST_ARRAY)
            plist_array_new_iter(item.node, reinterpret_cast<plist_array_iter*>(&iter));
        else
            plist_dict_new_iter(item.node, reinterpret_cast<plist_dict_iter*>(&iter));
        for (plist_t child = nullptr;; stack.push_back({child, item.depth + 1})) {
            if (type == PLIST_ARRAY)
                plist_array_next_item(item.node, iter, &child);
            else
                plist_dict_next_item(item.node, iter, nullptr, &child);
            if (!child) break;
        }
        free(iter);
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool xml = !bytes.startsWith("bplist00");
    const bool admitted = PropertyListLimits::admits(bytes);
    // libplist itself only sees what is admitted, or NUL-free XML for the depth comparison.
    if (admitted || (xml && !bytes.contains('\0') && size <= 4096)) {
        const QByteArray terminated = bytes.toByteArray();
        plist_t root = nullptr;
        plist_from_memory(terminated.constData(), uint32_t(terminated.size()), &root);
        if (root) {
            const int depth = depthOf(root);
            if (admitted && depth > PropertyList::kMaxDepth) abort();
            if (xml && depth != PropertyListLimits::xmlTreeDepth(bytes)) abort();
            plist_free(root);
        }
    }
    PropertyList::parse(bytes);
    return 0;
}
