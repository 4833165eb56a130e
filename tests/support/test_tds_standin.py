"""The stand-in's T-SQL translation and its case-sensitive names (run by ctest)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tds_standin as t  # noqa: E402


class Translation(unittest.TestCase):
    def test_exporter_shapes(self):
        sql = t.translate("SELECT COUNT(*) FROM [dbo].[Orvix0012Interview] WHERE Completed <> 0"
                          " AND StartInterview > CONVERT(DATETIME, '1/3/2014', 103)"
                          " AND Broker = N'l''été -- [x]' -- a comment")
        self.assertEqual(sql, "SELECT COUNT(*) FROM [Orvix0012Interview] WHERE Completed <> 0"
                              " AND StartInterview > '2014-03-01 00:00:00'"
                              " AND Broker = 'l''été -- [x]' ")
        self.assertEqual(t.with_top("SELECT TOP (5) a FROM b"), "SELECT a FROM b LIMIT 5")

    def test_script_shapes(self):
        batch = t.translate(
            "IF OBJECT_ID(N'dbo.T', N'U') IS NOT NULL DROP TABLE [dbo].[T];\n"
            "CREATE TABLE [dbo].[T] ([a] NVARCHAR(MAX) NULL, [d] DATETIME NULL);\n"
            "SET NOCOUNT ON;\nINSERT INTO [dbo].[T] ([a], [d]) VALUES\n(N'x;y', '2014-03-01T10:00:00')")
        self.assertEqual(t.split_statements(batch), [
            "DROP TABLE IF EXISTS [T]",
            "CREATE TABLE [T] ([a] NVARCHAR(-1) NULL, [d] DATETIME NULL)",
            "SET NOCOUNT ON",
            "INSERT INTO [T] ([a], [d]) VALUES\n('x;y', '2014-03-01 10:00:00')"])

    def test_case_sensitive_names(self):
        tables, columns = {"Orvix0012Data"}, {"QuestionID", "InterviewID"}
        t.check_case("SELECT QuestionID FROM [Orvix0012Data] WHERE x = 'questionid'", tables,
                     columns)
        for sql, number in [("SELECT QuestionId FROM Orvix0012Data", 207),
                            ("SELECT [QuestionID] FROM [orvix0012data]", 208)]:
            with self.assertRaises(t.SqlError) as raised:
                t.check_case(sql, tables, columns)
            self.assertEqual(raised.exception.number, number)


class Logins(unittest.TestCase):
    def test_login7_fields_as_sql_server_reads_them(self):
        def obfuscated(text):
            return bytes((((b << 4) & 0xF0) | (b >> 4)) ^ 0xA5 for b in text.encode("utf-16-le"))

        fields = {36: "WS1".encode("utf-16-le"), 40: "jürgen".encode("utf-16-le"),
                  44: obfuscated("pä;ss"), 48: "Panel export".encode("utf-16-le"),
                  68: "Pänel".encode("utf-16-le")}
        head, body = bytearray(94), bytearray()
        for offset, data in fields.items():
            head[offset:offset + 4] = t.struct.pack("<HH", 94 + len(body), len(data) // 2)
            body += data
        login = t.decode_login7(bytes(head + body))
        self.assertEqual((login["kind"], login["user"], login["password"], login["app"],
                          login["host"], login["database"]),
                         ("SQL", "jürgen", "pä;ss", "Panel export", "WS1", "Pänel"))
        head[25] = 0x80  # integrated security, with an NTLM negotiation
        head[78:82] = t.struct.pack("<HH", 94 + len(body), 8)
        self.assertEqual(t.decode_login7(bytes(head + body + b"NTLMSSP\0"))["kind"], "NTLM")


if __name__ == "__main__":
    unittest.main()
