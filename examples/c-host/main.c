/*
 * A minimal media-server host of libmysearchcriteria: parses the criteria given as the first
 * argument, takes out of play what its database cannot answer, and prints the SQL query that
 * it would run. Build: make (uses pkg-config); run: ./c-host 'dc:title contains "love"' [container].
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mysearchcriteria.h>

/* Every host defines myatoll: the library calls it for the number part of an object id. */
long long myatoll(const char *text) { return strtoll(text, NULL, 10); }

/* The host's columns, one per property it stores. @refID maps to a column that is non-null
 * exactly for objects that are not references, since "@refID exists false" is written as
 * "<column> IS NOT NULL". */
static const TokenEntry kColumns[] = {
    {PROP_DC_TITLE, "title"},   {PROP_DC_DATE, "date"},       {PROP_DC_CREATOR, "creator"},
    {PROP_UPNP_CLASS, "class"}, {PROP_UPNP_ARTIST, "artist"}, {PROP_UPNP_ALBUM, "album"},
    {PROP_UPNP_GENRE, "genre"}, {PROP_REFID, "own_media"},    {0, NULL}};

static const char *PropertyName(int id) {
    for (const TokenEntry *entry = g_PropertyName; entry->id != 0; ++entry) {
        if (entry->id == id) return entry->name;
    }
    return "?";
}

int main(int argc, char **argv) {
    const char *criteria = argc > 1 ? argv[1] : "dc:title contains \"love\"";
    const char *container = argc > 2 ? argv[2] : "0";

    ParseTreeNode *tree = NULL;
    /* "*" means every object; the host answers it without the parser. */
    if (strcmp(criteria, "*") != 0 &&
        Parse_searchExp(&tree, criteria, 0, (int)strlen(criteria) - 1) != 0) {
        fprintf(stderr, "c-host: cannot parse: %s\n", criteria);
        return 1;
    }
    if (tree == NULL) { /* "*", or nothing but blanks */
        puts("SELECT o.id FROM objects o");
        return 0;
    }

    const char *upnpClass = GetUPnPClass(tree);
    printf("class: %s\n", upnpClass != NULL ? upnpClass : "(any)");

    int count = 0;
    int *ids = GetPropertyList(tree, &count);
    printf("properties:");
    for (int i = 0; i < count; ++i) printf(" %s", PropertyName(ids[i]));
    printf("\n");
    free(ids);

    /* Conditions on properties without a column drop out of their and/or, and in the three
     * reference containers a search for references finds nothing. */
    if (SetAlwayTrueForNonSupportedProperty(tree, kColumns) != 0) {
        fprintf(stderr, "c-host: out of memory\n");
        freeParseTree(tree);
        return 1;
    }
    CheckContainerIsSupportRefID(container, tree);

    /* The parser accepts trees that are no condition, such as "dc:title = \"a\" and" or "()":
     * refuse them before any SQL is written. */
    int problem = CheckSQLCondition(tree, kColumns, NULL);
    if (problem != SEARCH_CONDITION_OK) {
        fprintf(stderr, "c-host: cannot search: %s\n", SearchConditionMessage(problem));
        freeParseTree(tree);
        return 1;
    }

    /* Convert into a small buffer first; the result says how much room the whole text needs. */
    char small[64];
    char *sql = small;
    int length = ConvertSQLConditionEx(tree, kColumns, "o.", small, (int)sizeof small);
    if (length >= (int)sizeof small) {
        sql = malloc((size_t)length + 1);
        if (sql == NULL) {
            freeParseTree(tree);
            return 1;
        }
        ConvertSQLConditionEx(tree, kColumns, "o.", sql, length + 1);
    }
    printf("SELECT o.id FROM objects o WHERE%s\n", sql);

    if (sql != small) free(sql);
    freeParseTree(tree);
    return 0;
}
