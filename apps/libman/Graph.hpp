// The type hierarchy as Graphviz text, and that text drawn as SVG in-process
// with Graphviz's library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Libman {

// One exported node of the hierarchy, in export order.
struct HierarchyNode {
    std::int32_t parent = -1;  // index of the parent node; -1 below the root
    std::int32_t depth = 1;    // 1 for the first level below the root
    std::string name;
    std::string unid;
    bool present = false;      // a part of the libraries carries the UnID
    bool isTemplate = false;
    bool placeable = false;
};

// A directed graph from the root (labelled `rootName`) to every node.
std::string HierarchyDot(const std::string& rootName, const std::vector<HierarchyNode>& nodes);

// Lays `dot` out and renders it as SVG into `svg`. An empty string, or what
// went wrong.
std::string RenderSvg(const std::string& dot, std::string* svg);

}  // namespace Libman
