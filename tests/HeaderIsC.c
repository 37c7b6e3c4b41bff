/* The public header as a C host includes it: compiled as C11 with -pedantic -Werror (the node
 * record's first slot is an anonymous union, which C99 lacks), linked against the library. */
#include "mysearchcriteria.h"

#include <stdio.h>
#include <string.h>

long long myatoll(const char *text) {
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + (*text - '0');
    return value;
}

int main(void) {
    static const char criteria[] = "dc:title contains \"abc\" and upnp:genre = \"abc\"";
    static const TokenEntry columns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_GENRE, "genre"}, {0, NULL}};
    static const char expected[] = " title  LIKE  '%abc%'  AND  genre  =  'abc' ";
    ParseTreeNode *tree = NULL;
    char sql[64];
    int failed = 0;

    if (Parse_searchExp(&tree, criteria, 0, (int)strlen(criteria) - 1) != 0 || tree == NULL) {
        fputs("parse failed\n", stderr);
        return 1;
    }
    if (tree->kind != NODE_OPERATOR || tree->opId != OP_AND || tree->left->left->propertyId != PROP_DC_TITLE ||
        strcmp(tree->right->right->text, "abc") != 0) {
        fputs("unexpected tree\n", stderr);
        failed = 1;
    }
    ConvertSQLCondition(tree, columns, NULL, sql, (int)sizeof sql);
    if (strcmp(sql, expected) != 0) {
        fprintf(stderr, "unexpected SQL [%s]\n", sql);
        failed = 1;
    }
    freeParseTree(tree);
    return failed;
}
