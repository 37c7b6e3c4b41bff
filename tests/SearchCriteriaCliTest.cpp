// Golden-output tests of the mysearchcriteria tool: the installed kind of binary, run from another
// directory, its whole standard output, standard error and exit status compared.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CliRun {
    std::string out;
    std::string err;
    int status;
};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ShellQuote(const std::string &arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/msc-cli-XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~TempDir() { std::system(("rm -rf " + ShellQuote(path_)).c_str()); }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// Runs the tool from / with 'input' on standard input; the time a search took reads "T".
CliRun RunCli(const std::vector<std::string> &args, const std::string &input = "") {
    TempDir dir;
    std::ofstream(dir.Path() + "/in", std::ios::binary) << input;
    std::string command = "cd / && " + ShellQuote(MSC_CLI_PATH);
    for (const std::string &arg : args) command += " " + ShellQuote(arg);
    command += " <" + ShellQuote(dir.Path() + "/in") + " >" + ShellQuote(dir.Path() + "/out") + " 2>" +
               ShellQuote(dir.Path() + "/err");
    int status = std::system(command.c_str());
    CliRun run{ReadFile(dir.Path() + "/out"), ReadFile(dir.Path() + "/err"),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    run.out = std::regex_replace(run.out, std::regex(R"( in [0-9]+\.[0-9]{3} ms\n)"), " in T ms\n");
    return run;
}

std::string Repeat(const std::string &text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

struct GoldenCase {
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::string err;
    int status;
};

// The sample's album Kind of Blue, found by 'criteria' on dc:title with 'condition'.
std::string KindOfBlue(const std::string &criteria, const std::string &condition) {
    return "criteria:    " + criteria + "\nclass:       (none)\nproperties:  dc:title\ncondition:  " + condition +
           "\ntitle         artist\n------------  -----------\nKind of Blue  Miles Davis\n1 row in T ms\n";
}

const GoldenCase kGoldenCases[] = {
    {{"sql", R"(upnp:class derivedfrom "object.item.audioItem" and @refID exists false)"},
     "",
     " class  LIKE  '%object.item.audioItem%' ESCAPE '!'  AND  own_id  IS  NOT NULL \n",
     "",
     0},
    {{"sql", "--prefix", "o.", "--columns", "dc:title=name, @refID=own", R"(dc:title = "a" and @refID exists false)"},
     "",
     " o.name  =  'a'  AND  o.own  IS  NOT NULL \n",
     "",
     0},
    {{"sql", "--supported", "upnp:class", R"(upnp:class = "x" or dc:title = "it's")"},
     "",
     " class  =  'x'  OR  '1'  =  '0' \n",
     "",
     0},
    // The sample's res column is supported on request; '+' adds to the column table, which a
    // map without it replaces, with every property of that map supported.
    {{"sql", "--supported", "res", R"(res = "x")"}, "", " res  =  'x' \n", "", 0},
    {{"sql", "--columns", "+dc:title=name", R"(dc:title = "a" and res = "x")"},
     "",
     " name  =  'a'  AND  '1'  =  '1' \n",
     "",
     0},
    {{"sql", "--columns", "res=url", R"(dc:title = "a" and res = "x")"},
     "",
     " '1'  =  '1'  AND  url  =  'x' \n",
     "",
     0},
    {{"sql", "--columns", "dc:title=name", "--supported", "dc:title,upnp:genre", R"(upnp:genre = "x")"},
     "",
     "",
     "mysearchcriteria: cannot search with the criteria: a property without a column: upnp:genre\n",
     1},
    // One output line per input line: "*" and an empty line give the empty condition, a failure
    // a marked line; its message names the line, with a caret under the byte where the parse
    // stopped, and the rest goes on.
    {{"sql"},
     "dc:title = \"O'Brien\"\r\n*\n\ndc:title xx \"a\"\n@id = \"A0$128$129$66912385\"\ndc:title = \"x\" and\n",
     " title  =  'O''Brien' \n\n\n-- error: line 4\n num_id  =  '1021' \n-- error: line 6\n",
     "mysearchcriteria: line 4: cannot parse the criteria: expected an operator or a logical keyword at byte 9\n"
     "  dc:title xx \"a\"\n"
     "           ^\n"
     "mysearchcriteria: line 6: cannot search with the criteria: an operator without its operand: \"and\" has no right operand\n",
     1},
    {{"search", "--show", "title"},
     "dc:title = \"Let It Be\" and @refID exists false\ndc:title = \"a\"" + Repeat(" or dc:title = \"a\"", 999) + "\n",
     "criteria:    dc:title = \"Let It Be\" and @refID exists false\n"
     "class:       (none)\n"
     "properties:  dc:title, @refID\n"
     "condition:   title  =  'Let It Be'  AND  own_id  IS  NOT NULL \n"
     "title\n"
     "---------\n"
     "Let It Be\n"
     "Let It Be\n"
     "2 rows in T ms\n"
     "\n"
     "-- error: line 2\n",
     "mysearchcriteria: line 2: the database rejected the search: Expression tree is too large (maximum depth 1000)\n"
     "mysearchcriteria: line 2: the condition nests deeper than SQLite's expression limit, as an and/or list of "
     "about 1,000 terms does; refuse such criteria or split the list into several queries\n",
     1},
    // A dump grows with the square of a list's length: 20,000 terms would be gigabytes.
    {{"tree"},
     "dc:title = \"a\"" + Repeat(" or dc:title = \"a\"", 19999) + "\n",
     "-- error: line 1\n",
     "mysearchcriteria: line 1: not dumped: the tree's dump would pass 16 MiB\n",
     1},
    // Control bytes are shown escaped, and the caret stays under the byte.
    {{"sql", "dc:title = \"\xC3\xA9\" \x01"},
     "",
     "",
     "mysearchcriteria: cannot parse the criteria: expected an operator or a logical keyword at byte 16\n"
     "  dc:title = \"\xC3\xA9\" \\x01\n"
     "                 ^\n",
     1},
    // A long criteria is shown as a window around the byte.
    {{"sql", std::string(70, ' ') + "dc:title xx \"a\"" + std::string(100, ' ')},
     "",
     "",
     "mysearchcriteria: cannot parse the criteria: expected an operator or a logical keyword at byte 79\n"
     "  ..." + std::string(51, ' ') + "dc:title xx \"a\"" + std::string(54, ' ') + "...\n"
     "  " + std::string(63, ' ') + "^\n",
     1},
    {{"sql", "\"dc:title\" = \"a\""},
     "",
     "",
     "mysearchcriteria: cannot parse the criteria: expected a property at byte 0\n"
     "  \"dc:title\" = \"a\"\n"
     "  ^\n",
     1},
    {{"sql", R"(dc:title = "x" and)"},
     "",
     "",
     "mysearchcriteria: cannot search with the criteria: an operator without its operand: \"and\" has no right operand\n",
     1},
    {{"tree", "--container", "A0$128$129", R"(upnp:class = "x" and @refID exists true)"},
     "",
     "parsed:\n"
     "--->--->P:upnp:class\n"
     "--->O:=\n"
     "--->--->V:x\n"
     "O:and\n"
     "--->--->P:@refID\n"
     "--->O:exists\n"
     "--->--->V:true\n"
     "rewritten:\n"
     "--->--->P:upnp:class\n"
     "--->O:=\n"
     "--->--->V:x\n"
     "O:and\n"
     "--->--->V:1\n"
     "--->O:=\n"
     "--->--->V:0\n",
     "",
     0},
    // The sample's own properties print by name; an unlisted one is unknown.
    {{"tree", "--standard", R"(last_updated > "2024" or upnp:artist[@role="Conductor"] startsWith "b")"},
     "",
     "parsed:\n"
     "--->--->P:last_updated\n"
     "--->O:>\n"
     "--->--->V:2024\n"
     "O:or\n"
     "--->--->P:(null)\n"
     "--->O:startsWith\n"
     "--->--->V:b\n"
     "rewritten:\n"
     "--->--->P:last_updated\n"
     "--->O:>\n"
     "--->--->V:2024\n"
     "O:or\n"
     "--->--->V:1\n"
     "--->O:=\n"
     "--->--->V:0\n",
     "",
     0},
    {{"tree", " * "}, "", "everything: * is not parsed\n", "", 0},
    {{"search", R"(dc:title = "Let It Be" and upnp:class = "object.item.audioItem.musicTrack" and @refID exists false)"},
     "",
     "criteria:    dc:title = \"Let It Be\" and upnp:class = \"object.item.audioItem.musicTrack\" and @refID exists false\n"
     "class:       object.item.audioItem.musicTrack\n"
     "properties:  dc:title, upnp:class, @refID\n"
     "condition:   title  =  'Let It Be'  AND  class  =  'object.item.audioItem.musicTrack'  AND  own_id  IS  NOT NULL \n"
     "object_id            class                             title      creator      date\n"
     "-------------------  --------------------------------  ---------  -----------  ----------\n"
     "A0$128$129$68550785  object.item.audioItem.musicTrack  Let It Be  The Beatles  1970-05-08\n"
     "1 row in T ms\n",
     "",
     0},
    {{"search", "--container", "A0$128$133$26280069", "--show", "title, artist", R"(dc:title contains "love")"},
     "",
     "criteria:    dc:title contains \"love\"\n"
     "class:       (none)\n"
     "properties:  dc:title\n"
     "condition:   title  LIKE  '%love%' ESCAPE '!' \n"
     "title           artist\n"
     "--------------  --------------\n"
     "100% Pure Love  Crystal Waters\n"
     "First Love      宇多田ヒカル\n"
     "2 rows in T ms\n",
     "",
     0},
    {{"search", "--prefix", "o.", "--show", "artist, title, date",
      R"(upnp:artist = "宇多田ヒカル" and upnp:class = "object.container.album.musicAlbum")"},
     "",
     "criteria:    upnp:artist = \"宇多田ヒカル\" and upnp:class = \"object.container.album.musicAlbum\"\n"
     "class:       object.container.album.musicAlbum\n"
     "properties:  upnp:artist, upnp:class\n"
     "condition:   o.artist  =  '宇多田ヒカル'  AND  o.class  =  'object.container.album.musicAlbum' \n"
     "artist        title       date\n"
     "------------  ----------  ----------\n"
     "宇多田ヒカル  First Love  1999-03-10\n"
     "1 row in T ms\n",
     "",
     0},
    {{"search", "--show", "title", "--container", "A0$148$149",
      R"(upnp:class derivedfrom "object.item.videoItem" and res@duration < "0:30:00" and upnp:genre = "Drama")"},
     "",
     "criteria:    upnp:class derivedfrom \"object.item.videoItem\" and res@duration < \"0:30:00\" and upnp:genre = \"Drama\"\n"
     "class:       object.item.videoItem\n"
     "properties:  upnp:class, res, upnp:genre\n"
     "always true: res\n"
     "condition:   class  LIKE  '%object.item.videoItem%' ESCAPE '!'  AND  '1'  =  '1'  AND  genre  =  'Drama' \n"
     "title\n"
     "---------------------\n"
     "Quadrophenia\n"
     "It's a Wonderful Life\n"
     "2 rows in T ms\n",
     "",
     0},
    {{"search", "--show", "title", "--container", "A0$160$161", "@refID exists true"},
     "",
     "criteria:    @refID exists true\n"
     "class:       (none)\n"
     "properties:  @refID\n"
     "refID:       false in container A0$160$161\n"
     "condition:   '1'  =  '0' \n"
     "title\n"
     "-----\n"
     "0 rows in T ms\n",
     "",
     0},
    {{"search", "--prefix", "o"}, "", "", "mysearchcriteria: search needs a prefix of the form NAME.\n", 1},
    {{"bogus"}, "", "", "mysearchcriteria: unknown job \"bogus\"; try --help\n", 1},
    {{"sql", "--columns", "foo bar=x", "x"},
     "",
     "",
     "mysearchcriteria: --columns: not a property=column pair with a property name: \"foo bar=x\"\n",
     1},
    // Names that are not built in are the host's own properties in the standard grammar.
    {{"sql", "--standard", "--columns", R"(last_updated=mtime,upnp:artist[@role="AlbumArtist"]=album_artist)",
      R"(last_updated > "2024" and upnp:artist[@role="AlbumArtist"] startsWith "Va" or upnp:author = "x")"},
     "",
     " mtime  >  '2024'  AND  album_artist  LIKE  'Va%' ESCAPE '!'  OR  '1'  =  '0' \n",
     "",
     0},
    {{"sql", "--prefix"}, "", "", "mysearchcriteria: option --prefix needs a value\n", 1},
    {{"search", "--db", "media.db", "--container", "5", "*"},
     "",
     "",
     "mysearchcriteria: --db: searching inside a container needs --id-column and --parent-column (the table's "
     "columns of object and parent ids), or --parent-column '' to search the whole table\n",
     1},
    {{"search", "--show", "title; DROP TABLE objects"},
     "",
     "",
     "mysearchcriteria: not a plain list of columns for --show: \"title; DROP TABLE objects\"\n",
     1},
    {{"sql", "a", "b"}, "", "", "mysearchcriteria: more than one criteria; quote the criteria as one argument\n", 1},
    {{"sample", "--dialect", "oracle"}, "", "", "mysearchcriteria: unknown dialect \"oracle\"; try sqlite, postgresql or mariadb\n", 1},
    // The servers that ctest's Databases.Start fixture runs with the sample library.
    // Each writes the condition in its own dialect.
    {{"search", "--db", MSC_TEST_POSTGRESQL, "--show", "title, artist", "--container", "A0$128$130", "--id-column", "object_id", "--parent-column", "parent_id", R"(dc:title contains "kind of")"},
     "", KindOfBlue(R"(dc:title contains "kind of")", R"( title  ILIKE  '%kind of%' ESCAPE '!' )"), "", 0},
    {{"search", "--db", MSC_TEST_MARIADB, "--show", "title, artist", "--container", "A0$128$130", "--id-column", "object_id", "--parent-column", "parent_id", R"(dc:title = "kind of blue")"},
     "", KindOfBlue(R"(dc:title = "kind of blue")", R"( title  =  _utf8mb4 X'6B696E64206F6620626C7565' )"), "", 0},
    {{"sql", "--dialect", "postgresql", R"(dc:title contains "100%" and upnp:genre = "Rock")"},
     "", " title  ILIKE  '%100!%%' ESCAPE '!'  AND  genre  =  'Rock' \n", "", 0},
    {{"sql", "--dialect", "mariadb", R"(dc:title contains "100%" and upnp:genre = "Rock")"},
     "", " title  LIKE  _utf8mb4 X'25313030212525' ESCAPE '!'  AND  genre  =  _utf8mb4 X'526F636B' \n", "", 0},
};

TEST(SearchCriteriaCli, PrintsWholeOutputs) {
    for (const GoldenCase &c : kGoldenCases) {
        CliRun run = RunCli(c.args, c.input);
        std::string label = c.args.empty() ? "" : c.args.front() + " " + c.args.back();
        EXPECT_EQ(run.out, c.out) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_EQ(run.status, c.status) << label;
    }
}

TEST(SearchCriteriaCli, HelpDocumentsEveryOptionAndJob) {
    CliRun run = RunCli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Usage: mysearchcriteria JOB [options] [CRITERIA]\n", 0), 0u);
    for (const char *word : {"  sql ", "  tree ", "  search ", "  sample ", "--prefix", "--columns", "--supported",
                             "--container", "--standard", "--db", "--dialect", "--table", "--show", "--id-column",
                             "--parent-column", "--order", "--help", "REPLACES", "--columns +MAP",
                             "\"-- error: line N\"", "pass 16 MiB"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(RunCli({"search", "-h"}).out, run.out);
    CliRun none = RunCli({});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, run.out);
}

TEST(SearchCriteriaCli, PrintsTheEmbeddedSampleLibrary) {
    CliRun run = RunCli({"sample"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ReadFile(MSC_SAMPLE_SQL_PATH));
}

// Another schema: --db with its own table and column names.
TEST(SearchCriteriaCli, SearchesAnExistingDatabaseFile) {
    TempDir dir;
    std::string path = dir.Path() + "/media.db";
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE media (name TEXT, kind TEXT, ref TEXT);"
                           "INSERT INTO media VALUES ('Abc', 'object.item.audioItem.musicTrack', NULL),"
                           " ('Xyz', 'object.item.audioItem.musicTrack', NULL),"
                           " ('bob''s song', 'object.item.audioItem.musicTrack', 'r1'),"
                           " ('Bravo', 'object.item.videoItem', NULL);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    CliRun run = RunCli({"search", "--db", path, "--table", "media", "--columns", "dc:title=name,upnp:class=kind",
                      R"(upnp:class derivedfrom "object.item.audioItem" and dc:title contains "B")"});
    EXPECT_EQ(run.out,
              "criteria:    upnp:class derivedfrom \"object.item.audioItem\" and dc:title contains \"B\"\n"
              "class:       object.item.audioItem\n"
              "properties:  upnp:class, dc:title\n"
              "condition:   kind  LIKE  '%object.item.audioItem%' ESCAPE '!'  AND  name  LIKE  '%B%' ESCAPE '!' \n"
              "name        kind                              ref\n"
              "----------  --------------------------------  ---\n"
              "Abc         object.item.audioItem.musicTrack\n"
              "bob's song  object.item.audioItem.musicTrack  r1\n"
              "2 rows in T ms\n");
    EXPECT_EQ(run.status, 0);
    // The file is opened read only, and a missing one is an error, not a new database.
    CliRun missing = RunCli({"search", "--db", dir.Path() + "/none.db", "*"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "mysearchcriteria: cannot open the database: unable to open database file\n");
}

}  // namespace
