#!/usr/bin/python3
"""Dumps an .xlsx as JSON for the tests: every sheet's cells (value, type,
number format, bold), merged ranges, column widths and the number of charts.
Run with Debian's python3 (python3-openpyxl)."""
import json
import sys

import openpyxl


def main(path):
    wb = openpyxl.load_workbook(path)
    out = {"sheets": wb.sheetnames, "data": {}}
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None and not (c.font and c.font.b):
                    continue
                cells[c.coordinate] = {
                    "value": c.value if not hasattr(c.value, "isoformat") else c.value.isoformat(),
                    "type": c.data_type,
                    "format": c.number_format,
                    "bold": bool(c.font and c.font.b),
                }
        widths = {k: v.width for k, v in ws.column_dimensions.items() if v.width}
        charts = []
        for ch in getattr(ws, "_charts", []):
            charts.append({
                "y_min": ch.y_axis.scaling.min,
                "y_max": ch.y_axis.scaling.max,
                "x_labels": ch.x_axis.tickLblPos,
            })
        setup = ws.page_setup
        fit = ws.sheet_properties.pageSetUpPr
        print_setup = {
            "orientation": setup.orientation,
            "fit": bool(fit and fit.fitToPage),
            # absent in the file means 1
            "fit_width": 1 if setup.fitToWidth is None else setup.fitToWidth,
            "fit_height": 1 if setup.fitToHeight is None else setup.fitToHeight,
            "title_rows": ws.print_title_rows,
            "freeze": ws.freeze_panes,
        }
        out["data"][ws.title] = {
            "cells": cells,
            "merged": sorted(str(r) for r in ws.merged_cells.ranges),
            "widths": widths,
            "charts": len(getattr(ws, "_charts", [])),
            "chart_axes": charts,
            "print": print_setup,
            "max_row": ws.max_row,
            "max_column": ws.max_column,
        }
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
