/*
 * libmysearchcriteria: parses UPnP ContentDirectory search criteria into a parse tree,
 * rewrites and inspects the tree, and writes it out as the text of an SQL condition.
 *
 * Every function is reentrant: the library keeps no state between calls. A tree belongs to
 * whoever received it and may be read by several threads at once, but not changed while
 * another thread uses it. Memory handed to the caller comes from malloc and is released
 * with free (a tree with freeParseTree).
 *
 * The host process must define myatoll (declared at the end of this header); the library
 * calls it to turn the number part of an object identifier into an integer.
 */
#ifndef MYSEARCHCRITERIA_H
#define MYSEARCHCRITERIA_H

/* The version of this header. A host compares it with SearchLibraryVersion() of the library it
 * runs with; records made with this header carry it (SearchOptions.version), so that a later
 * library reads only the fields this header has. */
#define MSC_VERSION_MAJOR 1
#define MSC_VERSION_MINOR 1
#define MSC_VERSION_PATCH 0
#define MSC_VERSION_NUMBER (MSC_VERSION_MAJOR * 10000 + MSC_VERSION_MINOR * 100 + MSC_VERSION_PATCH)
#define MSC_VERSION_STRING "1.1.0"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(MSC_BUILDING_LIBRARY)
#define MSC_EXPORT __attribute__((visibility("default")))
#else
#define MSC_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** The four kinds of parse tree node; a node's kind says which payload field is valid. */
typedef enum NodeKind {
    NODE_GROUP = 0,    /* a parenthesised sub-expression: inner */
    NODE_OPERATOR = 1, /* a logical node or a comparison: left, right, opId */
    NODE_PROPERTY = 2, /* a property named by the criteria: propertyId */
    NODE_VALUE = 3     /* a value text: text, owned by the node */
} NodeKind;

/** Property identifiers, in the order of g_PropertyName. */
enum {
    PROP_DC_TITLE = 1,
    PROP_DC_DATE = 2,
    PROP_DC_CREATOR = 3,
    PROP_UPNP_CLASS = 4,
    PROP_UPNP_ACTOR = 5,
    PROP_UPNP_ARTIST = 6,
    PROP_UPNP_ALBUM = 7,
    PROP_UPNP_GENRE = 8,
    PROP_REFID = 9,
    PROP_ID = 10,
    PROP_RES = 11,
    PROP_UPNP_ORIGINAL_TRACK_NUMBER = 12
};

/** Operator identifiers: 10 to 19 logical, 20 to 29 binary, 30 exists; 40 and above are the
 *  standard grammar's own operators, which the exported tables do not list. */
enum {
    OP_AND = 10,
    OP_OR = 11,
    OP_EQ = 20,
    OP_NE = 21,
    OP_LT = 22,
    OP_LE = 23,
    OP_GT = 24,
    OP_GE = 25,
    OP_CONTAINS = 26,
    OP_DOES_NOT_CONTAIN = 27,
    OP_DERIVED_FROM = 28,
    OP_IS = 29,
    OP_EXISTS = 30,
    OP_STARTS_WITH = 40 /* standard grammar only: written as LIKE 'value%' */
};

/** Most levels of nesting the parser accepts: each parenthesised group and each comparison
 *  of a chain such as `dc:title = "a" = "b"` is one level. Deeper text fails to parse. */
#define MSC_MAX_NESTING 256

/** One node of a parse tree. Every node is one malloc'd record of this size. */
typedef struct ParseTreeNode {
    uint32_t kind; /* a NodeKind */
    union {
        struct ParseTreeNode *inner; /* NODE_GROUP: the tree inside the parentheses, or NULL */
        struct ParseTreeNode *left;  /* NODE_OPERATOR: the left operand */
        int32_t propertyId;          /* NODE_PROPERTY: a PROP_ identifier */
        char *text;                  /* NODE_VALUE: NUL-terminated, malloc'd, owned by the node */
    };
    struct ParseTreeNode *right; /* NODE_OPERATOR: the right operand, or NULL */
    int32_t opId;                /* NODE_OPERATOR: an OP_ identifier */
} ParseTreeNode;

/** A table entry; every table ends with an entry whose id is 0 and whose name is NULL. */
typedef struct TokenEntry {
    int32_t id;
    const char *name;
} TokenEntry;

/** Criteria keywords of the properties 1 to 12. */
MSC_EXPORT extern const TokenEntry g_PropertyName[];
/** "and", "or" and their SQL texts "AND", "OR". */
MSC_EXPORT extern const TokenEntry g_LogOpName[];
MSC_EXPORT extern const TokenEntry g_LogOpSQL[];
/** The ten binary operators ("=" ... "is") and their SQL texts ("=" ... "="). */
MSC_EXPORT extern const TokenEntry g_BinOpName[];
MSC_EXPORT extern const TokenEntry g_BinOpSQL[];
/** "exists" and its SQL text "IS". */
MSC_EXPORT extern const TokenEntry g_ExistOpName[];
MSC_EXPORT extern const TokenEntry g_ExistOpSQL[];

/** Parses criteria[first..last] (last inclusive) into *tree; returns 0 on success (a NULL
 *  tree for blanks only) and 1 on failure, leaving *tree NULL. The caller frees the tree
 *  with freeParseTree. Writes "can't find key!!" and "id = N" lines to stderr. */
MSC_EXPORT int Parse_searchExp(ParseTreeNode **tree, const char *criteria, int first, int last);

/** Options of Parse_searchExpEx. */
#define SEARCH_PARSE_STANDARD 0x1u     /* the UPnP ContentDirectory grammar instead of the classic one */
#define SEARCH_PARSE_KEEP_UNKNOWN 0x2u /* standard grammar: unknown properties become PROP_UNKNOWN */
#define SEARCH_PARSE_LENIENT 0x4u      /* standard grammar: repair a text that fails to parse where a
                                          client's mistake has one obvious meaning (SEARCH_REPAIR_) */

/** The property id of a property that the vocabulary lacks (SEARCH_PARSE_KEEP_UNKNOWN). */
#define PROP_UNKNOWN 127

/** The first id of a host-defined property (SearchParseConfig.hostProperties). */
#define PROP_HOST_FIRST 128

/** Why Parse_searchExpEx failed. */
typedef enum SearchParseErrorCode {
    SEARCH_PARSE_OK = 0,
    SEARCH_PARSE_NO_PROPERTY,           /* no property where one must stand */
    SEARCH_PARSE_UNKNOWN_PROPERTY,      /* a property name that the vocabulary lacks */
    SEARCH_PARSE_UNKNOWN_OPERATOR,      /* no known operator or logical keyword where one must stand */
    SEARCH_PARSE_MISSING_VALUE,         /* an operator without its value (exists: without true or false) */
    SEARCH_PARSE_UNTERMINATED_QUOTE,    /* a quoted value without its closing quote */
    SEARCH_PARSE_UNBALANCED_PARENTHESES,/* a group without its closing parenthesis, or a stray one */
    SEARCH_PARSE_TRAILING_TEXT,         /* text after a complete expression */
    SEARCH_PARSE_TOO_DEEP,              /* more than MSC_MAX_NESTING levels of nesting */
    SEARCH_PARSE_OUT_OF_MEMORY,
    SEARCH_PARSE_INVALID_ARGUMENT       /* a NULL text or an unknown option bit */
} SearchParseErrorCode;

/** Where and why a parse stopped: 'offset' is the index in the criteria text of the byte at
 *  which the parse failed (-1 on success); the byte after the range when the text ended too
 *  early, and the opening quote or parenthesis of one that is never closed. */
typedef struct SearchParseError {
    int code; /* a SearchParseErrorCode */
    int offset;
} SearchParseError;

/** Parses like Parse_searchExp but writes nothing to stdout or stderr and fills *error (when not
 *  NULL). With options 0 the trees are exactly those of Parse_searchExp; SEARCH_PARSE_STANDARD
 *  selects the UPnP grammar (docs/STANDARD_GRAMMAR.md). Unknown option bits, and
 *  SEARCH_PARSE_KEEP_UNKNOWN or SEARCH_PARSE_LENIENT without SEARCH_PARSE_STANDARD, fail with
 *  SEARCH_PARSE_INVALID_ARGUMENT. Returns 0 or 1 like Parse_searchExp. */
MSC_EXPORT int Parse_searchExpEx(ParseTreeNode **tree, const char *criteria, int first, int last,
                                 unsigned options, SearchParseError *error);

/** What Parse_searchExpWith parses with. */
typedef struct SearchParseConfig {
    unsigned options;                 /* SEARCH_PARSE_ flags, as for Parse_searchExpEx */
    const TokenEntry *hostProperties; /* standard grammar: property names of the host's own, each
                                         with an id >= PROP_HOST_FIRST, ended by {0, NULL}; or NULL */
} SearchParseConfig;

/** Parses like Parse_searchExpEx with config->options; in the standard grammar a property named
 *  exactly as an entry of config->hostProperties becomes a leaf with that entry's id
 *  (docs/STANDARD_GRAMMAR.md). A NULL config, an entry whose id is below PROP_HOST_FIRST, an id
 *  0 with a name, or a name that is no property name fails with SEARCH_PARSE_INVALID_ARGUMENT. */
MSC_EXPORT int Parse_searchExpWith(ParseTreeNode **tree, const char *criteria, int first, int last,
                                   const SearchParseConfig *config, SearchParseError *error);

/** What SEARCH_PARSE_LENIENT repaired, one bit per kind (docs/STANDARD_GRAMMAR.md). */
#define SEARCH_REPAIR_CLOSE_PARENTHESES 0x1u /* closing parentheses added at the end of the text */
#define SEARCH_REPAIR_CLOSE_QUOTE 0x2u       /* a closing quote added at the end of the text */
#define SEARCH_REPAIR_SINGLE_QUOTES 0x4u     /* a value in single quotes read as a quoted value */
#define SEARCH_REPAIR_DOUBLED_QUOTES 0x8u    /* a value wrapped in two or three quotes read as quoted once */

/** What a parse repaired: 'repairs' SEARCH_REPAIR_ bits (0: none), 'offset' the index in the
 *  criteria text of the first repair (-1 when none): the opening quote of a repaired value, or
 *  the byte after the range for what was added at the end. */
typedef struct SearchParseRepairs {
    unsigned repairs;
    int offset;
} SearchParseRepairs;

/** Parses like Parse_searchExpWith and fills *repairs (when not NULL) with what
 *  SEARCH_PARSE_LENIENT repaired: no repairs without that option or when the parse fails. */
MSC_EXPORT int Parse_searchExpRepaired(ParseTreeNode **tree, const char *criteria, int first, int last,
                                       const SearchParseConfig *config, SearchParseError *error,
                                       SearchParseRepairs *repairs);

/** Returns a static English message for a SearchParseErrorCode ("no error" for SEARCH_PARSE_OK,
 *  "unknown error" for a code outside the enumeration); never NULL, never to be freed. */
MSC_EXPORT const char *SearchParseErrorMessage(int code);

/** Frees a tree with all its nodes and value texts; a NULL tree does nothing. */
MSC_EXPORT void freeParseTree(ParseTreeNode *tree);

/** Returns an independent copy of 'tree' that the caller frees with freeParseTree; NULL for
 *  a NULL tree, a root of unknown kind, or when memory runs out (nothing is leaked). */
MSC_EXPORT ParseTreeNode *CloneParseTree(const ParseTreeNode *tree);

/** Writes 'tree' as SQL condition text into out[0..outSize-1], always NUL-terminated;
 *  columnTable maps property ids to column names, tablePrefix (or NULL) goes before each.
 *  A text that does not fit is cut at the buffer's end. */
MSC_EXPORT void ConvertSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable,
                                    const char *tablePrefix, char *out, int outSize);

/** Like ConvertSQLCondition, and returns the length of the whole condition text (without its
 *  NUL), as snprintf does: a result of outSize or more means the text was cut, and a buffer of
 *  result + 1 bytes holds it whole. With a NULL 'out' or an outSize of 0 it only measures. */
MSC_EXPORT int ConvertSQLConditionEx(const ParseTreeNode *tree, const TokenEntry *columnTable,
                                     const char *tablePrefix, char *out, int outSize);

/** The SQL dialects of ConvertSQLConditionWith (docs/SQL.md has what each writes and what the
 *  host's columns must be). */
typedef enum SqlDialect {
    SQL_DIALECT_SQLITE = 0,     /* standard SQL as SQLite reads it: the classic text */
    SQL_DIALECT_POSTGRESQL = 1, /* patterns as ILIKE, backslash no escape in them */
    SQL_DIALECT_MYSQL = 2       /* MySQL and MariaDB: values as hex literals, in any sql_mode */
} SqlDialect;

/** Flags of SqlOptions. */
#define SQL_LITERAL_PATTERNS 0x1u /* %, _ and the escape character in pattern values match themselves */

/** How ConvertSQLConditionWith writes: a SqlDialect and SQL_ flags. */
typedef struct SqlOptions {
    int dialect;    /* a SqlDialect */
    unsigned flags; /* SQL_ flags */
} SqlOptions;

/** Like ConvertSQLConditionEx, in the dialect and with the flags of 'options' (NULL: the classic
 *  text). An unknown dialect or flag bit writes the empty text (when there is room for it) and
 *  returns -1. */
MSC_EXPORT int ConvertSQLConditionWith(const ParseTreeNode *tree, const TokenEntry *columnTable,
                                       const char *tablePrefix, const SqlOptions *options, char *out,
                                       int outSize);

/** Why a tree does not write a well-formed SQL condition (CheckSQLCondition). */
typedef enum SearchConditionCode {
    SEARCH_CONDITION_OK = 0,
    SEARCH_CONDITION_EMPTY,            /* no tree: a text of blanks only (the host decides: everything) */
    SEARCH_CONDITION_EMPTY_GROUP,      /* "()" */
    SEARCH_CONDITION_MISSING_OPERAND,  /* an operator without its left or right operand ("dc:title = \"a\" and") */
    SEARCH_CONDITION_BARE_PROPERTY,    /* a property that is no operand of a comparison ("dc:title=\"x\"" in the classic grammar) */
    SEARCH_CONDITION_NO_COLUMN,        /* a property whose column the table lacks or leaves without a name */
    SEARCH_CONDITION_UNKNOWN_OPERATOR, /* an operator id that no SQL table names */
    SEARCH_CONDITION_UNKNOWN_KIND      /* a node of unknown kind */
} SearchConditionCode;

/** Returns SEARCH_CONDITION_OK when ConvertSQLCondition writes a well-formed condition for 'tree'
 *  with 'columnTable' (NULL: columns not checked), else the code of the first problem in text
 *  order, and sets *node (when 'node' is not NULL) to the node at fault (NULL when there is none). */
MSC_EXPORT int CheckSQLCondition(const ParseTreeNode *tree, const TokenEntry *columnTable,
                                 const ParseTreeNode **node);

/** Returns a static English message for a SearchConditionCode ("unknown problem" outside the
 *  enumeration); never NULL, never to be freed. */
MSC_EXPORT const char *SearchConditionMessage(int code);

/** Room for what PrepareSearchOptions copies out of a SearchOptions record's tables; opaque. */
typedef struct SearchOptionsIndex {
    uint64_t words[71];
} SearchOptionsIndex;

/** Flags of SearchOptions.policy: what the calls do with what the host cannot answer. */
#define SEARCH_POLICY_REFUSE_UNSUPPORTED 0x1u /* a condition on a property that the database does not
                                                 evaluate fails the call with UPnP error 708 instead of
                                                 becoming a constant */
#define SEARCH_POLICY_SKIP_UNKNOWN_SORT 0x2u  /* a sort key that cannot be sorted by is left out (and
                                                 listed in SearchInfo.sortSkipped) instead of failing
                                                 with UPnP error 709 */

/** What ConvertSearchCriteria searches with: the host's tables and choices, set once. */
typedef struct SearchOptions {
    SearchParseConfig parse;          /* grammar and host vocabulary, as for Parse_searchExpWith */
    const TokenEntry *columnTable;    /* property ids to column names, as for ConvertSQLCondition */
    const TokenEntry *supportedTable; /* what the database evaluates (the others' conditions become
                                         constants, as SetAlwayTrueForNonSupportedProperty makes
                                         them); NULL: the ids of columnTable */
    const char *containerId;          /* the container searched, for the rule of
                                         CheckContainerIsSupportRefID; NULL: no such rule */
    const char *tablePrefix;          /* written before each column name, or NULL */
    SqlOptions sql;                   /* dialect and flags, as for ConvertSQLConditionWith */
    void *scratch;                    /* memory for the call's tree past 8 KiB of stack, used by one
                                         call at a time; or NULL */
    size_t scratchSize;
    SearchOptionsIndex index;         /* filled by PrepareSearchOptions; all zeros (as an initializer
                                         that leaves it out makes it): none, the call reads the tables */
    uint32_t version;                 /* MSC_VERSION_NUMBER of the header the record was made with
                                         (MSC_SEARCH_OPTIONS_INIT, InitSearchOptions): the fields below
                                         exist. 0, or any value below 10100: a record of version 1.0,
                                         which has none of them, and whose SearchInfo neither */
    uint32_t policy;                  /* SEARCH_POLICY_ flags */
    /* Since 1.1. */
    const char *idColumn;             /* the column of object ids, which ends every sort order so that
                                         pages never repeat or skip an object; or NULL */
    const TokenEntry *sortableTable;  /* the properties that clients may sort by (names ignored); NULL:
                                         every property with a column */
    const int *numericProperties;     /* the properties whose columns hold numbers, which sort as
                                         numbers rather than as text, ended by 0; NULL: the track number */
} SearchOptions;

/** An initializer of a SearchOptions record made with this header: `SearchOptions options =
 *  MSC_SEARCH_OPTIONS_INIT;`, then set the fields. */
#define MSC_SEARCH_OPTIONS_INIT {{0, NULL}, NULL, NULL, NULL, NULL, {0, 0}, NULL, 0, {{0}}, MSC_VERSION_NUMBER, 0, \
                                 NULL, NULL, NULL}

/** Clears *options as MSC_SEARCH_OPTIONS_INIT does (for C++ and for records on the heap); returns
 *  0, or -1 for a NULL record. */
MSC_EXPORT int InitSearchOptions(SearchOptions *options);

/** The version of the running library, MSC_VERSION_NUMBER of the header it was built with. */
MSC_EXPORT unsigned SearchLibraryVersion(void);

/** Copies what ConvertSearchCriteria looks up in the column and supported tables of 'options'
 *  into options->index, so that calls with the record look nothing up; returns 0, or -1 for a
 *  NULL record. A call reads the index only while the record names the tables it was made from:
 *  prepare again after changing a table's entries or names in place (docs/API.md). */
MSC_EXPORT int PrepareSearchOptions(SearchOptions *options);

/** Scratch bytes with which ConvertSearchCriteria takes no heap memory for a criteria of 'length' bytes. */
#define MSC_SEARCH_SCRATCH_SIZE(length) (40 * (size_t)(length) + 4096)

/** The most property ids that SearchInfo lists; its counts are the whole ones. */
#define MSC_SEARCH_INFO_PROPERTIES 32
/** The size of SearchInfo.upnpClass. */
#define MSC_SEARCH_INFO_CLASS_SIZE 128
/** The size of SearchInfo.upnpErrorDescription. */
#define MSC_SEARCH_INFO_DESCRIPTION_SIZE 160

/** What ConvertSearchCriteria learnt besides the SQL text; each field is what the classic calls give. */
typedef struct SearchInfo {
    SearchParseError error;  /* of the parse, as Parse_searchExpWith sets it; or why the call failed */
    int condition;           /* CheckSQLCondition of the rewritten tree with the column table: a host
                                writes no SQL for anything but SEARCH_CONDITION_OK */
    int classLength;         /* the length of GetUPnPClass's text, or -1 when it gives NULL */
    char upnpClass[MSC_SEARCH_INFO_CLASS_SIZE]; /* that text, NUL-terminated, cut to fit */
    int propertyCount;       /* GetPropertyList's count; the first ones follow in text order */
    int properties[MSC_SEARCH_INFO_PROPERTIES];
    int alwaysTrueCount;     /* properties whose conditions became constants: those of the list
                                that the supported table lacks, each once, in text order */
    int alwaysTrue[MSC_SEARCH_INFO_PROPERTIES];
    int refIdMadeFalse;      /* 1 when the container rule made a @refID condition false */
    /* Since 1.1: written only when the options record's version says that the host has them. */
    int upnpError;           /* 0, or the UPnP error code of a failure for the server's SOAP fault:
                                402 invalid arguments, 501 out of memory, 708 search criteria, 709
                                sort criteria */
    char upnpErrorDescription[MSC_SEARCH_INFO_DESCRIPTION_SIZE]; /* its words and what failed where,
                                "" when none; never a byte of the client's text */
    int sortSkippedCount;    /* ConvertSortCriteria: keys left out (SEARCH_POLICY_SKIP_UNKNOWN_SORT) */
    int sortSkipped[MSC_SEARCH_INFO_PROPERTIES]; /* the byte offsets of the first of them */
    unsigned repairs;        /* SEARCH_REPAIR_ bits of the parse (SEARCH_PARSE_LENIENT) */
    int repairOffset;        /* offset of the first repair, -1 when none */
} SearchInfo;

/** Runs a host's whole sequence (Parse_searchExpWith, GetUPnPClass, GetPropertyList, the rewrites
 *  with the supported table and the container, CheckSQLCondition, ConvertSQLConditionWith) on
 *  criteria[0..length-1] (length -1: up to its NUL) without a heap tree, fills 'info' (or NULL)
 *  and returns the SQL text's length as ConvertSQLConditionEx does, or -1 with info->error set
 *  when the text does not parse, memory runs out or an argument is invalid (docs/API.md). Bytes of
 *  'out' after the NUL (within outSize) may be written over. */
MSC_EXPORT int ConvertSearchCriteria(const char *criteria, int length, const SearchOptions *options,
                                     char *out, int outSize, SearchInfo *info);

/** Writes the list of sort keys that follows ORDER BY (the keyword is not written) for the UPnP
 *  SortCriteria sort[0..length-1] (length -1: up to its NUL), a comma-separated list of property
 *  names each after + (ascending, also when there is no sign) or - (descending), from the columns,
 *  host properties, prefix and dialect of 'options'. Every key sorts missing values last and
 *  text without regard to letter case; the list ends with options->idColumn. Returns the length as
 *  ConvertSQLConditionEx does (0 for an empty text without idColumn), or -1 with info->error and
 *  info->upnpError (709, or 402 for invalid arguments) set (docs/API.md). */
MSC_EXPORT int ConvertSortCriteria(const char *sort, int length, const SearchOptions *options, char *out,
                                   int outSize, SearchInfo *info);

/** Writes the GetSearchCapabilities text of 'options': the comma-separated names of the
 *  properties whose conditions the database evaluates. Returns the length as ConvertSQLConditionEx
 *  does, or -1 for a NULL record. */
MSC_EXPORT int WriteSearchCapabilities(const SearchOptions *options, char *out, int outSize);

/** Writes the GetSortCapabilities text of 'options': the comma-separated names of the properties
 *  that ConvertSortCriteria sorts by. Returns as WriteSearchCapabilities does. */
MSC_EXPORT int WriteSortCapabilities(const SearchOptions *options, char *out, int outSize);

/** Appends printf-formatted text to buf at *len, bounded by size, and adds the formatted
 *  length (also of a cut text) to *len; returns that length, or vsnprintf's negative error. */
MSC_EXPORT int MyStrCatf(char *buf, int *len, int size, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/** Turns every condition on 'propertyId' into "1" = "1" (next to an and in its written and/or
 *  list, or alone) or "1" = "0" (between ors only); returns 0 when the walk finished, -1 on a
 *  node of unknown kind or when memory runs out. */
MSC_EXPORT int SetAlwayTrueForProperty(ParseTreeNode *tree, int propertyId);

/** Like SetAlwayTrueForProperty for every property whose id 'supportedTable' lacks; a NULL
 *  or empty table supports nothing. */
MSC_EXPORT int SetAlwayTrueForNonSupportedProperty(ParseTreeNode *tree,
                                                   const TokenEntry *supportedTable);

/** In the containers "A0$128$129", "A0$148$149" and "A0$160$161", turns the first @refID
 *  condition whose value begins with "true" into "1" = "0". Returns 1 when the tree has no
 *  usable @refID condition (or containerId is NULL), else 0. */
MSC_EXPORT int CheckContainerIsSupportRefID(const char *containerId, ParseTreeNode *pTree);

/** Returns a malloc'd array of the property ids of every property leaf, in text order, and
 *  sets *count to its length; NULL when there are none. The caller frees it with free. */
MSC_EXPORT int *GetPropertyList(const ParseTreeNode *tree, int *count);

/** Returns the value text of the first upnp:class condition, pointing into the tree, or NULL. */
MSC_EXPORT const char *GetUPnPClass(const ParseTreeNode *tree);

/** Prints the tree to stdout, one line per node, indented "--->" per level from 'depth';
 *  returns the result of the last output call. */
MSC_EXPORT int TravelTree(const ParseTreeNode *tree, int depth);

/** Writes the lines of TravelTree to 'stream' instead of stdout, a property that
 *  g_PropertyName lacks by its name in 'hostProperties' (or NULL); returns the result of the
 *  last output call. */
MSC_EXPORT int TravelTreeToStream(const ParseTreeNode *tree, int depth, FILE *stream,
                                  const TokenEntry *hostProperties);

/** Supplied by the host: converts the decimal number of an object identifier. */
long long myatoll(const char *text);

#ifdef __cplusplus
}
#endif

#endif /* MYSEARCHCRITERIA_H */
