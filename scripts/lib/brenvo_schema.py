"""The host application's 20 tables, as the demo and the benchmarks build them.

One definition for both sides: the Access column types and sizes, and the
MySQL types the CS DB uses for the same columns (Text(n) becomes VARCHAR(2n),
or VARCHAR(n) for columns that only ever hold ASCII codes).
"""

# (name, access type, access size in chars for Text, ascii-only, nullable)
# access types: text, memo, long, int, byte, double, date
T = "text"

TABLES = [
    ("dbversion", [("dbid", T, 10, True, False), ("ver", "long")], ["dbid"], []),
    ("options", [("opt_id", "long", 0, False, False), ("opt_name", T, 50), ("opt_value", T, 255)], ["opt_id"], []),
    ("office", [("office_id", "long", 0, False, False), ("office_name", T, 50), ("biz_no", T, 12, True),
                ("ceo_name", T, 20), ("address", T, 100), ("tel", T, 20, True), ("fax", T, 20, True)],
     ["office_id"], []),
    ("local_user", [("user_id", T, 20, True, False), ("user_name", T, 20), ("passwd", T, 50),
                    ("office_id", "long"), ("is_admin", "byte")], ["user_id"], []),
    ("customer", [("cust_id", "long", 0, False, False), ("cust_code", T, 20, True), ("cust_name", T, 50),
                  ("biz_no", T, 12, True), ("ceo_name", T, 20), ("tel", T, 20, True), ("mobile", T, 20, True),
                  ("address", T, 100), ("email", T, 50, True), ("memo", "memo"), ("credit_limit", "double"),
                  ("reg_date", "date")],
     ["cust_id"], [("cust_code", True), ("cust_name", False)]),
    ("pclass", [("class_id", "long", 0, False, False), ("class_name", T, 30), ("parent_id", "long")], ["class_id"], []),
    ("product_m", [("prod_id", "long", 0, False, False), ("prod_code", T, 20, True), ("prod_name", T, 60),
                   ("class_id", "long"), ("spec", T, 40), ("unit", T, 10), ("price_in", "double"),
                   ("price_out", "double"), ("tax_type", "byte"), ("stock_qty", "double"), ("lastmodify", "date")],
     ["prod_id"], [("prod_code", True), ("prod_name", False)]),
    ("product_d", [("prod_id", "long", 0, False, False), ("seq", "int", 0, False, False), ("barcode", T, 30, True),
                   ("option_name", T, 40), ("price_add", "double")], ["prod_id", "seq"], []),
    ("app_menu", [("menu_id", "long", 0, False, False), ("menu_name", T, 40), ("parent_id", "long"),
                  ("sort_no", "int")], ["menu_id"], []),
    ("priv_menu", [("user_id", T, 20, True, False), ("menu_id", "long", 0, False, False), ("can_read", "byte"),
                   ("can_write", "byte")], ["user_id", "menu_id"], []),
    ("accounts", [("acc_id", "long", 0, False, False), ("acc_name", T, 40), ("bank_name", T, 30),
                  ("acc_no", T, 30, True), ("balance", "double")], ["acc_id"], []),
    ("cashbook", [("cash_id", "long", 0, False, False), ("cash_date", "date"), ("acc_id", "long"),
                  ("in_amt", "double"), ("out_amt", "double"), ("summary", T, 100), ("cust_id", "long")],
     ["cash_id"], [("cash_date", False)]),
    ("schedules", [("sch_id", "long", 0, False, False), ("sch_date", "date"), ("title", T, 100),
                   ("content", "memo"), ("done", "byte")], ["sch_id"], []),
    ("estimate_m", [("esti_id", "long", 0, False, False), ("esti_no", T, 20, True), ("estidate", "date"),
                    ("cust_id", "long"), ("total_amt", "double"), ("tax_amt", "double"), ("memo", "memo")],
     ["esti_id"], [("cust_id", False)]),
    ("estimate_d", [("esti_id", "long", 0, False, False), ("seq", "int", 0, False, False), ("prod_id", "long"),
                    ("prod_name", T, 60), ("qty", "double"), ("price", "double"), ("amount", "double")],
     ["esti_id", "seq"], []),
    ("sale_m", [("sale_id", "long", 0, False, False), ("sale_no", T, 20, True), ("sale_date", "date"),
                ("cust_id", "long"), ("total_amt", "double"), ("tax_amt", "double"), ("paid_amt", "double"),
                ("memo", "memo")],
     ["sale_id"], [("sale_no", True), ("sale_date", False), ("cust_id", False)]),
    ("sale_d", [("sale_id", "long", 0, False, False), ("seq", "int", 0, False, False), ("prod_id", "long"),
                ("prod_name", T, 60), ("qty", "double"), ("price", "double"), ("amount", "double")],
     ["sale_id", "seq"], []),
    ("receive", [("recv_id", "long", 0, False, False), ("recv_date", "date"), ("cust_id", "long"),
                 ("amount", "double"), ("method", T, 20), ("memo", T, 200)], ["recv_id"], [("cust_id", False)]),
    ("taxlist_m", [("tax_id", "long", 0, False, False), ("tax_no", T, 30, True), ("issue_date", "date"),
                   ("cust_id", "long"), ("supply_amt", "double"), ("tax_amt", "double"), ("status", "byte")],
     ["tax_id"], []),
    ("taxlist_d", [("tax_id", "long", 0, False, False), ("seq", "int", 0, False, False), ("item_name", T, 60),
                   ("qty", "double"), ("price", "double"), ("supply_amt", "double"), ("tax_amt", "double")],
     ["tax_id", "seq"], []),
]


class Column:
    def __init__(self, spec):
        name, kind = spec[0], spec[1]
        self.name = name
        self.kind = kind
        self.size = spec[2] if len(spec) > 2 else 0
        self.ascii = spec[3] if len(spec) > 3 else False
        self.nullable = spec[4] if len(spec) > 4 else True

    def mysql_type(self, table):
        if self.kind == T:
            return "VARCHAR(%d)" % (self.size if self.ascii else 2 * self.size)
        if self.kind == "date":
            return "DATE" if (table, self.name) == ("estimate_m", "estidate") else "DATETIME"
        return {"memo": "TEXT", "long": "INT", "int": "SMALLINT", "byte": "TINYINT UNSIGNED",
                "double": "DOUBLE"}[self.kind]


def tables():
    """[(name, [Column], primary key columns, [(index column, unique)])] in catalogue order."""
    return [(n, [Column(c) for c in cols], pk, idx) for n, cols, pk, idx in TABLES]


def mysql_ddl(charset="utf8mb4"):
    out = []
    for name, cols, pk, idx in tables():
        lines = ["  `%s` %s%s" % (c.name, c.mysql_type(name), "" if c.nullable else " NOT NULL") for c in cols]
        lines.append("  PRIMARY KEY (%s)" % ", ".join("`%s`" % k for k in pk))
        for col, unique in idx:
            lines.append("  %sKEY `%s` (`%s`)" % ("UNIQUE " if unique else "", col, col))
        out.append("CREATE TABLE IF NOT EXISTS `%s` (\n%s\n) ENGINE=InnoDB DEFAULT CHARSET=%s;\n"
                   % (name, ",\n".join(lines), charset))
    return "\n".join(out)
