#!/usr/bin/env bash
# Writes a one-page PDF with a line of text to standard output.
set -euo pipefail
content='BT /F1 24 Tf 72 700 Td (Corvane fax printer) Tj ET'
objs=("<< /Type /Catalog /Pages 2 0 R >>"
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>"
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
      "<< /Length ${#content} >>
stream
$content
endstream")
out="%PDF-1.4"$'\n'
offsets=()
for i in "${!objs[@]}"; do
  offsets+=("${#out}")
  out+="$((i + 1)) 0 obj"$'\n'"${objs[$i]}"$'\n'"endobj"$'\n'
done
xref=${#out}
out+="xref"$'\n'"0 $((${#objs[@]} + 1))"$'\n'"0000000000 65535 f "$'\n'
for o in "${offsets[@]}"; do out+=$(printf '%010d 00000 n ' "$o")$'\n'; done
out+="trailer"$'\n'"<< /Size $((${#objs[@]} + 1)) /Root 1 0 R >>"$'\n'"startxref"$'\n'"$xref"$'\n'"%%EOF"$'\n'
printf '%s' "$out"
