/* A host built against the 1.0 header, run with the current library: its records are those of
 * 1.0 (no version, a shorter SearchInfo), and every call must answer as 1.0 did without reading
 * or writing past them. Exits 0 when every check holds, else prints what failed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mysearchcriteria-1.0.h"

long long myatoll(const char *text) { return strtoll(text, NULL, 10); }

static const TokenEntry kColumns[] = {{PROP_DC_TITLE, "title"}, {PROP_UPNP_CLASS, "class"}, {PROP_REFID, "own_id"},
                                      {0, NULL}};

/* A SearchInfo of 1.0 with guard bytes after it, where a newer record's fields would be. */
struct GuardedInfo {
    SearchInfo info;
    unsigned char guard[256];
};

static int failures = 0;

static void Expect(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "old host: %s\n", what);
        ++failures;
    }
}

static int GuardHolds(const struct GuardedInfo *guarded) {
    for (size_t i = 0; i < sizeof guarded->guard; ++i) {
        if (guarded->guard[i] != 0xA5) return 0;
    }
    return 1;
}

int main(void) {
    /* As the 1.0 README's host sets it: the index left zero, then prepared once. */
    SearchOptions options = {.parse = {0, NULL}, .columnTable = kColumns, .tablePrefix = "o.",
                             .sql = {SQL_DIALECT_SQLITE, 0}};
    Expect(PrepareSearchOptions(&options) == 0, "PrepareSearchOptions failed");
    struct GuardedInfo guarded;
    char where[256];
    const char *texts[] = {"upnp:class derivedfrom \"object.item.audioItem\" and dc:title contains \"love\"",
                           "dc:creator = \"x\" or dc:title = \"y\"", "dc:title =", NULL};
    const char *wanted[] = {" o.class  LIKE  '%object.item.audioItem%'  AND  o.title  LIKE  '%love%' ",
                            " '1'  =  '0'  OR  o.title  =  'y' ", ""};
    const int results[] = {72, 34, -1};
    for (int i = 0; texts[i] != NULL; ++i) {
        memset(&guarded, 0xA5, sizeof guarded);
        int length = ConvertSearchCriteria(texts[i], -1, &options, where, sizeof where, &guarded.info);
        Expect(length == results[i], texts[i]);
        Expect(strcmp(where, wanted[i]) == 0, where);
        Expect(GuardHolds(&guarded), "ConvertSearchCriteria wrote past a 1.0 SearchInfo");
    }
    Expect(guarded.info.error.code == SEARCH_PARSE_MISSING_VALUE && guarded.info.error.offset == 10,
           "the failure's code and offset");
    if (failures == 0) puts("a 1.0 host runs unchanged");
    return failures == 0 ? 0 : 1;
}
