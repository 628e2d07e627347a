#!/usr/bin/env bash
# Pictures of the desktop dialogs, taken under Xvfb by quillmark-dialog's
# autopilot: the chooser (CJK and right-to-left subjects, a row selected),
# the consent, the key-use confirmation and its review pane, the chooser of a
# web page carrying the review, PIN entry and the certificate viewer.
#
#   scripts/dialog_screenshots.sh BUILD/quillmark-dialog OUTDIR
set -euo pipefail
helper=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
if [[ -z "${QM_IN_XVFB:-}" ]]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run not found (apt-get install xvfb xauth)" >&2; exit 1; }
  QM_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x900x24 -dpi 96" "$0" "$helper" "$out"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset QT_QPA_PLATFORM

# shot NAME REQUEST [STEPS...]: shows REQUEST, performs STEPS, saves NAME.png, presses Esc.
shot() {
  local name=$1 request=$2
  shift 2
  { printf '%s\n' "$@"; printf 'wait 400\nshot %s\nkey Esc\n' "$out/$name.png"; } > "$work/$name.steps"
  QUILLMARK_DIALOG_AUTOPILOT="$work/$name.steps" "$helper" < <(printf '%s\n' "$request"; sleep 20) > /dev/null
  echo "$out/$name.png"
}

origin='"origin":"https://ebank.demo-bank.example"'
shot chooser '{"kind":"chooser",'"$origin"',"title":"请选择您要用的证书","prompt":"请在列表中选择证书","columns":["主题","颁发者","截止日期"],"buttons":["确定","取消","查看"],"notice":"Quillmark signing control\r\nDemo Bank Co., Ltd.\r\nBuilt 2026-12-07","rows":[{"item":0,"subject":"张三","issuer":"Demo Bank Customer CA","notAfter":"2027-12-07 10:00:00GMT"},{"item":1,"subject":"شركة الأمانة للتجارة والاستثمار المحدودة","issuer":"Demo Bank Customer CA","notAfter":"2028-03-01 00:00:00GMT"},{"item":2,"subject":"Li Si, Corporate Treasury Department, Demo Bank Shanghai Branch, Pudong New Area","issuer":"Demo Bank Customer CA","notAfter":"2027-06-30 23:59:59GMT"},{"item":3,"subject":"赵六 (SM2)","issuer":"Demo Bank SM2 Customer CA","notAfter":"2029-01-15 08:00:00GMT"}],"selected":-1}' 'select 1'
shot consent '{"kind":"consent",'"$origin"'}'
shot pin '{"kind":"pin",'"$origin"',"label":"Demo Bank USB Key","triesLeft":2,"passphrase":false}' 'type 123'

cli=$(dirname "$helper")/quillmark
if [[ -x "$cli" ]]; then
  QUILLMARK_HOME="$work/home" "$cli" store demo > /dev/null
  cert=$(find "$work/home" -name '*.cer' -print0 | xargs -0 grep -l . | head -n 1 || true)
  if [[ -n "$cert" ]]; then
    echo 'wait 400' > "$work/viewer.steps"
    printf 'shot %s\nkey Esc\n' "$out/viewer.png" >> "$work/viewer.steps"
    QUILLMARK_HOME="$work/home" QUILLMARK_DIALOG_AUTOPILOT="$work/viewer.steps" "$helper" --view "$cert"
    echo "$out/viewer.png"
  fi
fi

# The review pane as the library sends it: the text decoded from the bytes to
# be signed, with the escapes it put in place of hidden characters, the
# form's real files and the key's owner.
owner='"owner":{"subject":"CN=张三, OU=Personal, O=Demo Bank, C=CN","issuer":"CN=Demo Bank Customer CA, OU=Certification Services, O=Demo Bank, C=CN","serial":"0123 4567 89AB","notAfter":"2027-12-07 10:00:00GMT"}'
review_text='"text":"Pay ⟦U+202E⟧00.001 CNY to Alice⟦U+200B⟧\nAccount 6222 0000 1234 5678\nReference INV-2026-1207","textUnits":77,"bytes":81,"hidden":2,"notText":false'
shot confirm '{"kind":"confirm",'"$origin"',"action":"sign","text":"转账 10,000.00 元 给 李四 (账号 6222 0000 1234 5678)\nPayment reference: INV-2026-1207","textUnits":77,"bytes":85,"hidden":0,"notText":false,"files":[{"name":"invoice-2026-12.pdf","size":48213},{"name":"contract.docx","size":20480}],'"$owner"'}' 'scroll-end'
shot review '{"kind":"confirm",'"$origin"',"action":"sign",'"$review_text"',"files":[],'"$owner"'}' 'scroll-end'
shot chooser-review '{"kind":"chooser",'"$origin"',"title":"You are signing: PAY 10 CNY to Alice","prompt":"请在列表中选择证书","columns":["主题","颁发者","截止日期"],"buttons":["Sign","取消","查看"],"notice":"Quillmark signing control","rows":[{"item":0,"subject":"张三","issuer":"Demo Bank Customer CA","notAfter":"2027-12-07 10:00:00GMT"},{"item":1,"subject":"Li Si","issuer":"Demo Bank Customer CA","notAfter":"2027-06-30 23:59:59GMT"}],"selected":-1,"review":{"action":"sign",'"$review_text"',"files":[]}}' 'select 0' 'scroll-end'
