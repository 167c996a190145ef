#include "Graph.hpp"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <memory>

namespace Libman {

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c == '\n' ? ' ' : c;
    }
    return quoted + "\"";
}

}  // namespace

std::string HierarchyDot(const std::string& rootName, const std::vector<HierarchyNode>& nodes)
{
    std::string dot = "digraph hierarchy {\n  rankdir=LR;\n  node [shape=box, fontname=\"Helvetica\", fontsize=10];\n";
    dot += "  root [label=" + Quoted(rootName) + ", shape=ellipse];\n";
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const HierarchyNode& node = nodes[k];
        const std::string id = "n" + std::to_string(k);
        dot += "  " + id + " [label=" + Quoted(node.present ? node.name : node.unid) + ", tooltip=" +
               Quoted(node.unid);
        if (!node.present)
            dot += ", style=dashed, fontcolor=gray40";
        else if (node.isTemplate)
            dot += ", style=\"rounded,bold\"";
        dot += "];\n  " + (node.parent < 0 ? std::string("root") : "n" + std::to_string(node.parent)) + " -> " + id +
               ";\n";
    }
    return dot + "}\n";
}

std::string RenderSvg(const std::string& dot, std::string* svg)
{
    std::unique_ptr<GVC_t, int (*)(GVC_t*)> context(gvContext(), &gvFreeContext);
    if (context == nullptr)
        return "Graphviz could not be started";
    std::unique_ptr<Agraph_t, int (*)(Agraph_t*)> graph(agmemread(dot.c_str()), &agclose);
    if (graph == nullptr)
        return "Graphviz could not read the graph";
    if (gvLayout(context.get(), graph.get(), "dot") != 0)
        return "Graphviz could not lay the graph out (is its dot layout plugin installed?)";
    char* data = nullptr;
    unsigned int length = 0;
    const int rendered = gvRenderData(context.get(), graph.get(), "svg", &data, &length);
    if (rendered == 0 && data != nullptr)
        svg->assign(data, length);
    gvFreeRenderData(data);
    gvFreeLayout(context.get(), graph.get());
    return rendered == 0 && !svg->empty() ? std::string() : "Graphviz could not render SVG";
}

}  // namespace Libman
