// A minimal C++ host of libmysearchcriteria through its header-only wrapper: parses the
// criteria given as the first argument, prints the tree, the properties and the SQL condition.
#include <cstdlib>
#include <iostream>
#include <string>

#include <mysearchcriteria.hpp>

// Every host defines myatoll: the library calls it for the number part of an object id.
extern "C" long long myatoll(const char *text) { return std::strtoll(text, nullptr, 10); }

namespace {

const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"},   {PROP_DC_CREATOR, "creator"},
                               {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"},
                               {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "own_media"},
                               {0, nullptr}};

}  // namespace

int main(int argc, char **argv) {
    std::string criteria = argc > 1 ? argv[1] : R"(dc:title contains "love")";
    msc::ParseResult parsed = msc::parse(criteria);
    if (!parsed) {
        std::cerr << "cxx-host: error " << parsed.error.code << " at byte " << parsed.error.offset
                  << "\n" << criteria << "\n" << std::string(static_cast<size_t>(parsed.error.offset), ' ')
                  << "^\n";
        return 1;
    }
    msc::Tree &tree = parsed.tree;
    std::cout << tree.dump();
    std::cout << "class: " << tree.upnp_class().value_or("(any)") << "\n";
    std::cout << "properties:";
    for (int id : tree.properties()) std::cout << ' ' << id;
    std::cout << "\n";

    msc::Tree unchanged = tree.clone();
    if (tree.set_always_true_for_non_supported_property(kColumns) != 0) return 1;
    // The parser accepts trees that are no condition, such as `dc:title = "a" and` or `()`.
    if (msc::ConditionCheck check = tree.check(kColumns); !check) {
        std::cerr << "cxx-host: cannot search: " << check.message() << "\n";
        return 1;
    }
    std::cout << "as parsed:" << unchanged.to_sql(kColumns) << "\n";
    std::cout << "supported:" << tree.to_sql(kColumns, "o.") << "\n";
    return 0;
}
