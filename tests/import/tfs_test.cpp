// The TFS reader and the Twiss columns picked out of it.
#include "import/tfs.h"

#include <gtest/gtest.h>

#include "import/twiss_table.h"

namespace {

const char* const kTable =
    "@ NAME             %05s \"TWISS\"\n"
    "@ TITLE            %22s \"ring with a long title\"\n"
    "@ Q1               %le  0.31\n"
    "@ Q2               %le  0.28\n"
    "@ NPART            %d   100\n"
    "# a comment line\n"
    "\n"
    "* NAME            KEYWORD     S     BETX  ALFX  MUX   BETY  ALFY  MUY\n"
    "$ %s              %s          %le   %le   %le   %le   %le   %le   %le\n"
    " \"START\"        \"MARKER\"  0     10    0.5   0     8     -0.3  0\n"
    " \"MY ELEMENT 2\" \"MULTIPOLE\" 12.5 7.25 -1e-1 0.1   9     1.5   0.15\n";

bool parse(const std::string& text, TfsTable* table, std::string* error) {
  return parse_tfs(text.data(), text.size(), table, error);
}

std::string error_of(const std::string& text) {
  TfsTable table;
  std::string error;
  EXPECT_FALSE(parse(text, &table, &error)) << text;
  return error;
}

std::string twiss_error_of(const std::string& text) {
  TfsTable tfs;
  TwissTable table;
  std::string error;
  EXPECT_TRUE(parse(text, &tfs, &error)) << error;
  EXPECT_FALSE(read_twiss_table(&tfs, "t.tfs", &table, &error));
  return error;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

// The table with one column of the "*" line renamed.
std::string renamed_column(const std::string& text, const std::string& name) {
  size_t names = text.find("* NAME");
  size_t at = text.find(" " + name, names);
  while (text[at + 1 + name.size()] != ' ' && text[at + 1 + name.size()] != '\n') at = text.find(" " + name, at + 1);
  return std::string(text).replace(at + 1, name.size(), "OTHER");
}

}  // namespace

TEST(TfsFormat, HeadersColumnsAndQuotedStringsWithBlanks) {
  TfsTable t;
  std::string error;
  ASSERT_TRUE(parse(kTable, &t, &error)) << error;
  ASSERT_EQ(t.headers.size(), 5u);
  EXPECT_EQ(tfs_header(&t, "title")->text, "ring with a long title");
  EXPECT_EQ(tfs_header(&t, "Q2")->number, 0.28);
  EXPECT_EQ(tfs_header(&t, "NPART")->type, kTfsInteger);
  EXPECT_EQ(t.names_line, 8);
  ASSERT_EQ(tfs_row_count(&t), 2u);
  EXPECT_EQ(t.row_lines[1], 11);
  EXPECT_EQ(t.columns[size_t(tfs_column(&t, "name"))].strings[1], "MY ELEMENT 2");
  EXPECT_EQ(t.columns[size_t(tfs_column(&t, "ALFX"))].numbers[1], -0.1);
  EXPECT_EQ(tfs_column(&t, "K2L"), -1);
}

TEST(TfsFormat, CrLfLinesReadAsLf) {
  std::string text = kTable, crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  TfsTable lf, dos;
  std::string error;
  ASSERT_TRUE(parse(text, &lf, &error));
  ASSERT_TRUE(parse(crlf, &dos, &error)) << error;
  EXPECT_EQ(dos.columns[0].strings, lf.columns[0].strings);
  EXPECT_EQ(dos.columns[8].numbers, lf.columns[8].numbers);
  EXPECT_EQ(tfs_header(&dos, "NAME")->text, "TWISS");
}

TEST(TfsFormat, BrokenTablesAreRefusedNamingTheLine) {
  std::string row = " \"START\"        \"MARKER\"  0     10    0.5   0     8     -0.3  0\n";
  EXPECT_EQ(error_of(replaced(kTable, row, " \"START\" \"MARKER\" 0 10 0.5 0 8 -0.3\n")), "line 10: 8 fields in a row of 9 columns");
  EXPECT_EQ(error_of(replaced(kTable, row, " \"START\" \"MARKER\" 0 10 0.5 0 8 -0.3 0 1\n")), "line 10: 10 fields in a row of 9 columns");
  EXPECT_EQ(error_of(replaced(kTable, "7.25", "7.2.5")), "line 11: column BETX: \"7.2.5\" is not a number");
  EXPECT_EQ(error_of(replaced(kTable, "7.25", "\"7.25\"")), "line 11: column BETX: \"7.25\" is not a number");
  EXPECT_EQ(error_of(replaced(kTable, "\"TWISS\"", "\"TWISS")), "line 1: unterminated quote");
  EXPECT_EQ(error_of(replaced(kTable, "\"MY ELEMENT 2\"", "\"MY ELEMENT 2")), "line 11: text right after a closing quote");
  EXPECT_EQ(error_of(replaced(kTable, "0.31", "0.31x")), "line 3: \"0.31x\" is not a number");
  EXPECT_EQ(error_of(replaced(kTable, "%d   100", "%d   1.5")), "line 5: \"1.5\" is not an integer");
  EXPECT_EQ(error_of(replaced(kTable, "%le  0.28", "%lx  0.28")), "line 4: unknown type %lx of header Q2");
  EXPECT_EQ(error_of(replaced(kTable, "* NAME", "# NAME")), "line 9: column types before the column names (* line)");
  EXPECT_EQ(error_of(replaced(kTable, "$ %s", "# %s")), "line 10: a row before the column types ($ line)");
  EXPECT_EQ(error_of(std::string(kTable) + "@ Q3 %le 1\n"), "line 12: a header line after the column names");
  EXPECT_EQ(error_of(replaced(kTable, "KEYWORD", "BETY")), "line 8: column BETY given twice");
  EXPECT_EQ(error_of(std::string(kTable).substr(0, std::string(kTable).find("* NAME"))),
            "line 7: the table ends without column names (* line)");
  EXPECT_EQ(error_of(""), "line 1: the file is empty");
}

TEST(TwissColumns, AnyOrderAndOptionalColumnsMissing) {
  std::string text =
      "@ Q2 %le 0.28\n@ Q1 %le 0.31\n"
      "* MUY ALFY BETY MUX ALFX BETX NAME K2L\n"
      "$ %le %le %le %le %le %le %s %le\n"
      "0 -0.3 8 0 0.5 10 \"START\" 0\n"
      "0.15 1.5 9 0.1 -0.1 7.25 \"SX\" 0.75\n";
  TfsTable tfs;
  TwissTable t;
  std::string error;
  ASSERT_TRUE(parse(text, &tfs, &error)) << error;
  ASSERT_TRUE(read_twiss_table(&tfs, "t.tfs", &t, &error)) << error;
  EXPECT_EQ(t.q1, 0.31);
  EXPECT_FALSE(t.has_emittance || t.has_length || t.has_dispersion || t.has_coupling || t.has_tilt);
  ASSERT_EQ(t.rows.size(), 2u);
  const TwissRow& r = t.rows[1];
  EXPECT_EQ(r.name, "SX");
  EXPECT_EQ(r.keyword, "");
  EXPECT_EQ(r.betx, 7.25);
  EXPECT_EQ(r.alfx, -0.1);
  EXPECT_EQ(r.muy, 0.15);
  EXPECT_EQ(r.normal[2], 0.75);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.skew[2], 0);
  EXPECT_EQ(r.line, 6);
}

TEST(TwissColumns, RequiredColumnsTunesAndUsableValues) {
  const char* const required[] = {"NAME", "BETX", "ALFX", "MUX", "BETY", "ALFY", "MUY"};
  for (const char* name : required)
    EXPECT_NE(twiss_error_of(renamed_column(kTable, name)).find(std::string("t.tfs line 8: the table has no ") + name + " column"),
              std::string::npos)
        << name;
  EXPECT_EQ(twiss_error_of(replaced(kTable, "@ Q2 ", "@ QQ ")), "t.tfs: the header has no Q2 (the vertical tune)");
  EXPECT_EQ(twiss_error_of(replaced(kTable, "%le  0.31", "%s \"0.31\"")), "t.tfs line 3: the tune Q1 is not a finite number");
  EXPECT_EQ(twiss_error_of(replaced(kTable, "7.25", "-7.25")), "t.tfs line 11: a beta function that is not positive (BETX -7.25, BETY 9)");
  EXPECT_EQ(twiss_error_of(replaced(kTable, "-1e-1", "nan")), "t.tfs line 11: ALFX is not a finite number");
  EXPECT_EQ(twiss_error_of(replaced(replaced(kTable, " S ", " K21L "), "12.5", "1")),
            "t.tfs line 8: column K21L: orders above 20 are not read");
  std::string header_only = std::string(kTable).substr(0, std::string(kTable).find(" \"START\""));
  EXPECT_EQ(twiss_error_of(header_only), "t.tfs line 8: the table has no rows");
  // A value that is not finite in a column the import does not read passes.
  TfsTable tfs;
  TwissTable t;
  std::string error;
  ASSERT_TRUE(parse(replaced(replaced(kTable, " S ", " GAMMATR "), "12.5", "nan"), &tfs, &error));
  EXPECT_TRUE(read_twiss_table(&tfs, "t.tfs", &t, &error)) << error;
}
