"""Deterministic sample rows for the demo's dbMain.mdb, written as CSV files
by the rules brenvo-mdb import reads (UTF-8, CR LF, NULL = empty unquoted
field, the empty string = "")."""

import datetime
import os
import random

from brenvo_schema import tables

SURNAMES = "김이박최정강조윤장임한오서신권황안송류홍"
GIVEN = ["민준", "서연", "도윤", "하은", "지호", "수아", "예준", "지유", "시우", "채원", "주원", "다은"]
FIRMS = ["대한상사", "한빛유통", "미래전자", "㈜세종물산", "동방무역", "새롬식품", "푸른산업", "하나기계"]
CITIES = ["서울시 강남구 테헤란로", "부산시 해운대구 센텀로", "대구시 중구 동성로", "인천시 남동구 예술로"]
GOODS = ["A4 복사용지", "볼펜 세트", "사무용 의자", "프린터 토너", "USB 메모리 32GB", "생수 2L", "커피믹스", "화이트보드"]
UNITS = ["개", "박스", "세트", "EA"]
METHODS = ["현금", "카드", "계좌이체", "어음"]


def fmt_double(v):
    s = repr(float(v))
    if "e" in s or "E" in s:
        s = format(v, "f").rstrip("0").rstrip(".")
    if s.endswith(".0"):
        s = s[:-2]
    return "0" if s in ("-0", "") else s


def field(v):
    if v is None:
        return ""
    if isinstance(v, float):
        return fmt_double(v)
    if isinstance(v, int):
        return str(v)
    if isinstance(v, datetime.datetime):
        return v.strftime("%Y-%m-%d %H:%M:%S")
    s = str(v)
    if s == "" or any(c in s for c in ',"\r\n') or s[0] in " \t" or s[-1] in " \t":
        return '"' + s.replace('"', '""') + '"'
    return s


def person(r):
    return r.choice(SURNAMES) + r.choice(GIVEN)


def when(r, start=2015):
    base = datetime.datetime(start, 1, 1)
    return base + datetime.timedelta(days=r.randrange(0, 3650), seconds=r.randrange(0, 86400))


def rows(scale=1):
    r = random.Random(20261208)
    n_cust, n_prod, n_sale = 60 * scale, 40 * scale, 300 * scale
    data = {}
    data["dbversion"] = [("main", 12)]
    data["options"] = [(i, "옵션%02d" % i, ["예", "아니오", "", None, "C:\\Brenvo\\백업"][i % 5]) for i in range(1, 21)]
    data["office"] = [(1, "카르보 데모지점", "123-45-67890", person(r), CITIES[0] + " 123", "02-555-0101", "02-555-0102")]
    data["local_user"] = [("admin", "관리자", "pa'ss\\1", 1, 1), ("kim01", person(r), "", 1, 0), ("lee02", person(r), None, 1, 0)]
    data["customer"] = []
    for i in range(1, n_cust + 1):
        memo = None
        if i % 7 == 0:
            memo = "거래 메모 %d\r\n둘째 줄: 결제는 월말\r\n셋째 줄" % i
        if i == 17:
            memo = ("장문 메모 단락입니다. 가나다라마바사 아자차카타파하. " * 60 + "\r\n") * 3
        data["customer"].append((i, "C%05d" % i, r.choice(FIRMS) + ("" if i % 5 else " 본점"), "%03d-%02d-%05d" % (
            r.randrange(100, 999), r.randrange(10, 99), r.randrange(10000, 99999)), person(r),
            "02-%04d-%04d" % (r.randrange(1000, 9999), r.randrange(1000, 9999)),
            None if i % 4 == 0 else "010-%04d-%04d" % (r.randrange(1000, 9999), r.randrange(1000, 9999)),
            r.choice(CITIES) + " %d" % r.randrange(1, 500), "c%05d@example.com" % i, memo,
            None if i % 6 == 0 else float(r.randrange(0, 5000)) * 10000.0, None if i % 9 == 0 else when(r)))
    data["customer"][10] = (11,) + ("C00011", "Kim's 무역\\본점") + data["customer"][10][3:]
    data["pclass"] = [(i, ["문구", "가구", "전자", "식품", "소모품"][i - 1], None if i == 1 else 1) for i in range(1, 6)]
    data["product_m"] = []
    for i in range(1, n_prod + 1):
        price = round(r.uniform(500, 90000), 2)
        data["product_m"].append((i, "P%05d" % i, r.choice(GOODS) + " %d호" % i, r.randrange(1, 6),
                                  "규격 %d'x%d\"" % (i, i + 1) if i % 3 == 0 else "표준", r.choice(UNITS),
                                  price, round(price * 1.3, 2), r.randrange(0, 3),
                                  None if i % 8 == 0 else float(r.randrange(-5, 500)),
                                  None if i % 10 == 0 else when(r)))
    data["product_d"] = [(p, s, "880%010d" % (p * 10 + s), "옵션 %d" % s, float(s * 500)) for p in range(1, n_prod + 1)
                         for s in (1, 2)]
    data["app_menu"] = [(i, "메뉴 %d" % i, None if i <= 5 else (i - 1) // 5, i) for i in range(1, 21)]
    data["priv_menu"] = [(u, m, 1, None if m % 4 == 0 else m % 2) for u in ("admin", "kim01", "lee02") for m in range(1, 21)]
    data["accounts"] = [(i, "계좌 %d" % i, ["국민은행", "신한은행", "우리은행"][i % 3], "%03d-%06d-%02d" % (i, i * 7, i),
                         round(r.uniform(-100000, 9000000), 2)) for i in range(1, 6)]
    data["cashbook"] = [(i, when(r), r.randrange(1, 6), float(r.randrange(0, 100)) * 1000, float(r.randrange(0, 50)) * 1000,
                         "적요 %d, 1,000ml" % i, None if i % 3 == 0 else r.randrange(1, n_cust + 1)) for i in range(1, 201 * scale)]
    data["schedules"] = [(i, when(r), "일정 %d" % i, "내용 첫 줄\r\n내용 둘째 줄" if i % 2 else None,
                          None if i % 5 == 0 else i % 2) for i in range(1, 41)]
    data["estimate_m"], data["estimate_d"] = [], []
    for e in range(1, 61 * scale):
        d = when(r)
        data["estimate_m"].append((e, "E%06d" % e, datetime.datetime(d.year, d.month, d.day), r.randrange(1, n_cust + 1),
                                   0.0, 0.0, "견적 메모\r\n%d" % e if e % 4 == 0 else None))
        for s in range(1, 5):
            q, p = float(r.randrange(1, 20)), float(r.randrange(1, 100)) * 100
            data["estimate_d"].append((e, s, None if s == 4 else r.randrange(1, n_prod + 1), r.choice(GOODS), q, p, q * p))
    data["sale_m"], data["sale_d"] = [], []
    for sid in range(1, n_sale + 1):
        d = when(r)
        total = 0.0
        for s in range(1, 5):
            q, p = float(r.randrange(-1, 20) or 1), round(r.uniform(100, 50000), 2)
            amt = round(q * p, 2)
            total += amt
            data["sale_d"].append((sid, s, None if s == 4 and sid % 3 == 0 else r.randrange(1, n_prod + 1),
                                   r.choice(GOODS), q, p, amt))
        data["sale_m"].append((sid, "S%s-%06d" % (d.strftime("%Y%m%d"), sid), d, r.randrange(1, n_cust + 1),
                               round(total, 2), round(total * 0.1, 2), None if sid % 5 == 0 else round(total, 2),
                               "매출 메모\r\n%d" % sid if sid % 9 == 0 else None))
    data["receive"] = [(i, when(r), r.randrange(1, n_cust + 1), float(r.randrange(-10, 300)) * 1000, r.choice(METHODS),
                        "입금 \"확인\" %d" % i if i % 6 == 0 else None) for i in range(1, 151 * scale)]
    data["taxlist_m"], data["taxlist_d"] = [], []
    for t in range(1, 91 * scale):
        d = when(r)
        data["taxlist_m"].append((t, "%s-41000%03d-%08d" % (d.strftime("%Y%m%d"), t % 1000, t), d,
                                  r.randrange(1, n_cust + 1), float(t * 1000), float(t * 100), 255 if t % 97 == 0 else t % 4))
        for s in range(1, 3):
            data["taxlist_d"].append((t, s, r.choice(GOODS), 1.0, float(t * 500), float(t * 500), float(t * 50)))
    return data


def write_csvs(folder, scale=1, only_version=False):
    os.makedirs(folder, exist_ok=True)
    data = rows(scale)
    for name, cols, _, _ in tables():
        body = data[name] if (not only_version or name == "dbversion") else []
        with open(os.path.join(folder, name + ".csv"), "w", encoding="utf-8", newline="") as f:
            f.write(",".join(c.name for c in cols) + "\r\n")
            for row in body:
                assert len(row) == len(cols), (name, row)
                f.write(",".join(field(v) for v in row) + "\r\n")
