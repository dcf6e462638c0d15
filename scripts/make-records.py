#!/usr/bin/env python3
"""A records folder as a line of stations leaves it, for the report's browser
test, its screenshot and its benchmark.

    make-records.py DIR RECORDS DAYS [--start 2025-03-03]

Four ports on four stations (the second half of the days in the newer files
that name their station), two chips and code files, failures with addresses,
link failures and stops, a slow hour a day, ID codes from 100001 with a few
handed out and never confirmed (id-held.csv), a torn last line and a pending
file with two records. Seeded: the same arguments make the same folder.
"""
import argparse
import csv
import datetime
import io
import os
import random

HEADER = ["时间", "结果", "状态", "芯片型号", "代码文件", "检查和", "起始地址", "终止地址", "ID码", "ID码地址",
          "成功计数", "失败计数", "耗时(毫秒)", "端口"]
CODES = [("S3F9454", "D:\\生产\\遥控器V2.3\\remote_v23_final.hex", "1A2BH", "0FFFH", 2500),
         ("S3C9454", "D:\\生产\\充电器\\charger_v1.1.hex", "7C01H", "07FFH", 1900)]
PORTS = ["COM3", "COM4", "COM5", "COM6"]
STATIONS = {"COM3": "L1-工位1", "COM4": "L1-工位2", "COM5": "L2-工位1", "COM6": "L2-工位2"}
GOOD = "自动编程已成功完成"


def failure(rng):
    roll = rng.random()
    if roll < 0.45:
        return "bad", "芯片不空, 在地址: %05X" % rng.randrange(0, 0x800, 16)
    if roll < 0.75:
        return "bad", "校验芯片失败! 在地址: %05X" % rng.randrange(0, 0x1000)
    if roll < 0.85:
        return "bad", "编程芯片失败!"
    if roll < 0.95:
        return "link", "编程器连接错误,编程器可能正忙,请稍候再试!"
    return "stopped", "操作已中止"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("records", type=int)
    parser.add_argument("days", type=int)
    parser.add_argument("--start", default="2025-03-03")
    a = parser.parse_args()
    os.makedirs(a.dir, exist_ok=True)
    rng = random.Random(7)
    start = datetime.date.fromisoformat(a.start)
    next_id = 100001
    written = 0
    held = []
    for d in range(a.days):
        day = start + datetime.timedelta(days=d)
        stations = d >= a.days // 2
        today = a.records * (d + 1) // a.days - written
        written += today
        slow = rng.randrange(9, 17)  # the hour the line slowed down
        out = io.StringIO()
        w = csv.writer(out, lineterminator="\r\n")
        w.writerow(HEADER + (["station"] if stations else []))
        # Shifts from 07:00 to 19:00; the slow hour gets a third of the chips of another.
        weights = [0.33 if 7 + h == slow else 1.0 for h in range(12)]
        total = sum(weights)
        counts = {}
        rows = []
        seconds = []
        for i in range(today):
            x = rng.random() * total
            h = 0
            while x > weights[h]:
                x -= weights[h]
                h += 1
            seconds.append((7 + h) * 3600 + int(x / weights[h] * 3600))
        for i, second in enumerate(sorted(seconds)):
            hour = second // 3600
            port = PORTS[i % 4]
            chip, code, sum_, end, base = CODES[0 if rng.random() < 0.7 else 1]
            c = counts.setdefault(port, [0, 0])
            if rng.random() >= (0.18 if hour == slow else 0.06):
                result, status = "good", GOOD
                ident = next_id
                next_id += 1
                if ident % 2500 == 0:  # a run that died holding the next code
                    held.append((next_id, port, day, second))
                    next_id += 1
                c[0] += 1
            else:
                result, status = failure(rng)
                ident = ""
                if result == "bad":
                    c[1] += 1
            ms = 0 if result == "stopped" else int(rng.gauss(base, 120) + (900 if hour == slow else 0))
            if result == "link":
                ms = 656
            rows.append((second, [result, status, chip, code, sum_, "0000H", end, ident, "0FF0H", c[0], c[1],
                                  max(ms, 0), port] + ([STATIONS[port]] if stations else [])))
        for second, row in rows:
            w.writerow(["%sT%02d:%02d:%02d+08:00" % (day.isoformat(), second // 3600, second // 60 % 60, second % 60)]
                       + row)
        text = "\ufeff" + out.getvalue()
        if d == a.days - 1:
            # The power went while the last record was being written.
            text += "%sT19:00:01+08:00,good,%s,S3F9454,D:\\生产" % (day.isoformat(), GOOD)
        with open(os.path.join(a.dir, day.isoformat() + ".csv"), "w", encoding="utf-8", newline="") as f:
            f.write(text)
    last = start + datetime.timedelta(days=a.days - 1)
    out = io.StringIO()
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(HEADER)
    for k, (result, status) in enumerate([("good", GOOD), ("bad", "芯片不空, 在地址: 00020")]):
        w.writerow(["%sT19:05:0%d+08:00" % (last.isoformat(), k), result, status] + list(CODES[0][:3]) +
                   ["0000H", CODES[0][3], next_id if result == "good" else "", "0FF0H", 1, k, 2480, "COM7"])
    next_id += 1
    with open(os.path.join(a.dir, "pending-pc7-4242-20250303070000-a1b2c3-1.csv"), "w", encoding="utf-8",
              newline="") as f:
        f.write("\ufeff" + out.getvalue())
    with open(os.path.join(a.dir, "id-held.csv"), "w", encoding="utf-8", newline="") as f:
        f.write("\ufeffID码,占用者,时间,状态\r\n")
        for code, port, day, second in held:
            f.write("%d,pc-%s-1234-a1b2c3,%sT%02d:%02d:00+08:00,held\r\n" % (code, port, day.isoformat(),
                                                                              second // 3600, second // 60 % 60))
    print("generated %d records over %d files, ID codes 100001-%d, %d held" % (written, a.days, next_id - 1,
                                                                              len(held)))


if __name__ == "__main__":
    main()
