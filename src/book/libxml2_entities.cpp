#include "book/libxml2_entities.h"

#include "book/libxml2_tree.h"

#include <libxml/SAX2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace vellum::libxml {

namespace {

// The bytes that expanding entity references gives, each entity measured once.
// Saturates just past kMaxEntityExpansion; an entity met again while it is being
// measured (a loop the parser let through) counts as too large.
class ExpansionMeter {
public:
    std::size_t entity(const xmlEntity* entity) {
        if (entity == nullptr) return 0;
        auto [it, fresh] = sizes_.try_emplace(entity, kTooLarge);
        if (!fresh) return it->second;
        std::size_t size = list(entity->children);
        sizes_[entity] = size;
        return size;
    }

    // The expansion of the entity references among `first` and its siblings and
    // descendants, their text included.
    std::size_t list(const xmlNode* first) {
        std::size_t total = 0;
        std::vector<const xmlNode*> pending;
        for (const xmlNode* node = first;;) {
            for (; node != nullptr && total < kTooLarge; node = node->next) {
                if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                    if (node->content != nullptr) total = add(total, std::strlen(reinterpret_cast<const char*>(node->content)));
                } else if (node->type == XML_ENTITY_REF_NODE) {
                    total = add(total, entity(reinterpret_cast<const xmlEntity*>(node->children)));
                } else if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
                    pending.push_back(node->children);
                }
            }
            if (pending.empty() || total >= kTooLarge) return total;
            node = pending.back();
            pending.pop_back();
        }
    }

    static std::size_t add(std::size_t a, std::size_t b) { return std::min(a + std::min(b, kTooLarge), kTooLarge); }
    static constexpr std::size_t kTooLarge = kMaxEntityExpansion + 1;

private:
    std::unordered_map<const xmlEntity*, std::size_t> sizes_;
};

}  // namespace

void EntityBudget::attach(xmlParserCtxtPtr parser) {
    parser->_private = this;
    parser->sax->getEntity = getEntity;
}

xmlEntityPtr EntityBudget::getEntity(void* user, const xmlChar* name) {
    auto* context = static_cast<xmlParserCtxtPtr>(user);
    auto* budget = static_cast<EntityBudget*>(context->_private);
    if (budget != nullptr && budget->exceeded_) return nullptr;
    xmlEntityPtr entity = xmlSAX2GetEntity(user, name);
    if (entity != nullptr && budget != nullptr) {
        budget->entityBytes_ += static_cast<std::size_t>(std::max(entity->length, 0));
        if (budget->entityBytes_ > kMaxEntityExpansion) {
            budget->exceeded_ = true;
            xmlStopParser(context);
            return nullptr;
        }
    }
    return entity;
}

bool expansionWithinLimit(xmlDocPtr doc) {
    if (doc->intSubset == nullptr && doc->extSubset == nullptr) return true;  // nothing declared
    ExpansionMeter meter;
    std::size_t total = 0;
    auto countReferences = [&](const xmlNode* first) {
        for (const xmlNode* node = first; node != nullptr; node = node->next)
            if (node->type == XML_ENTITY_REF_NODE)
                total = ExpansionMeter::add(total, meter.entity(reinterpret_cast<const xmlEntity*>(node->children)));
    };
    walkElements(doc, SIZE_MAX, [&](xmlNodePtr element) {
        countReferences(element->children);
        for (xmlAttrPtr attr = element->properties; attr != nullptr; attr = attr->next) countReferences(attr->children);
    });
    return total < ExpansionMeter::kTooLarge;
}

bool appendExpandedText(xmlNodePtr first, std::string& out) {
    std::size_t entityBytes = 0;
    struct Frame {
        xmlNodePtr node;
        bool viaEntity;
    };
    std::vector<Frame> stack;
    xmlNodePtr node = first;
    bool viaEntity = false;
    while (true) {
        while (node != nullptr) {
            switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (node->content != nullptr) {
                    std::size_t n = std::strlen(reinterpret_cast<const char*>(node->content));
                    if (viaEntity) {
                        entityBytes += n;
                        if (entityBytes > kMaxEntityExpansion) return false;
                    }
                    out.append(reinterpret_cast<const char*>(node->content), n);
                }
                break;
            case XML_ELEMENT_NODE:
                if (node->children != nullptr) {
                    stack.push_back({node->next, viaEntity});
                    node = node->children;
                    continue;
                }
                break;
            case XML_ENTITY_REF_NODE: {
                auto* entity = reinterpret_cast<xmlEntityPtr>(node->children);
                if (entity != nullptr && entity->children != nullptr) {
                    if (stack.size() > 10000) return false;
                    stack.push_back({node->next, viaEntity});
                    node = entity->children;
                    viaEntity = true;
                    continue;
                }
                break;
            }
            default:
                break;
            }
            node = node->next;
        }
        if (stack.empty()) return true;
        node = stack.back().node;
        viaEntity = stack.back().viaEntity;
        stack.pop_back();
    }
}

}  // namespace vellum::libxml
