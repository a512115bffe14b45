#!/usr/bin/env bash
# Seeds the demo data: a connection profile and a Firebird 3 database with Japanese sample rows.
#
#   scripts/seed-demo.sh
#
# Drive folder: $SORVANTO_DRIVES, or ${XDG_DATA_HOME:-$HOME/.local/share}/sorvanto/drives.
#   <drives>/c/DOCUMENT/Connection.ini   connection profile (UTF-8, CRLF)
#   <drives>/c/firebird/document.fdb     database (dialect 3, UTF8, page size 8192)
# An existing file is never overwritten; each one is created only when it is missing.
#
# The database is built with isql-fb in embedded mode inside a temporary Firebird root of its own
# with a lock folder of its own (mode 0700), so no folder that another user can write is handed
# to the engine; nothing else knows of the new file yet, so the engine opens it alone
# (ServerMode = Super). It is built under a temporary name, checked, and only then linked into
# place, so a failed run leaves no database behind.
set -euo pipefail

readonly FB_HOME=/usr/lib/x86_64-linux-gnu/firebird/3.0
readonly LONG_MEMO_MIN_CHARS=4096

die() {
  echo "seed-demo: error: $*" >&2
  exit 1
}

drives=${SORVANTO_DRIVES:-}
if [ -z "$drives" ]; then
  data_home=${XDG_DATA_HOME:-}
  [ -n "$data_home" ] || data_home=${HOME:?HOME is not set}/.local/share
  drives=$data_home/sorvanto/drives
fi
ini=$drives/c/DOCUMENT/Connection.ini
db=$drives/c/firebird/document.fdb

# shellcheck source=scripts/firebird-root.sh
. "$(dirname "${BASH_SOURCE[0]}")/firebird-root.sh"

# By its real path: the Firebird root made in it must be named without links.
work=$(mktemp -d "${TMPDIR:-/tmp}/sorvanto-seed.XXXXXX")
work=$(cd "$work" && pwd -P)
tmp_db=""
cleanup() {
  [ -z "$tmp_db" ] || rm -f "$tmp_db"
  rm -rf "$work"
}
trap cleanup EXIT

# Moves a finished file to its final name unless that name exists already. The hard link fails
# when the target exists, so a file appearing meanwhile is not replaced.
install_new() {
  local src=$1 dest=$2
  if ln "$src" "$dest" 2>/dev/null; then
    rm -f "$src"
    return 0
  fi
  rm -f "$src"
  [ -e "$dest" ] || die "cannot create $dest"
  return 1
}

seed_profile() {
  local tmp
  if [ -e "$ini" ]; then
    echo "seed-demo: profile exists, left alone: $ini"
    return 0
  fi
  mkdir -p "${ini%/*}"
  tmp=$(mktemp "${ini%/*}/.Connection.ini.XXXXXX")
  printf '%s\r\n' \
    '[FBDOCUMENTCONNECTION]' \
    'DriverName=Firebird' \
    'Database=c:\firebird\document.fdb' \
    'User_Name=sysdba' \
    'Password=masterkey' \
    'ServerCharSet=UTF8' \
    'SQLDialect=3' >"$tmp"
  chmod 644 "$tmp"
  if install_new "$tmp" "$ini"; then
    echo "seed-demo: profile created: $ini"
  else
    echo "seed-demo: profile exists, left alone: $ini"
  fi
}

# Temporary Firebird root: links to the packaged files (intl copied, see firebird-root.sh) plus
# its own firebird.conf, an empty databases.conf and its lock folder. Embedded attachments trust
# the given user name, so no security database is consulted.
make_root() {
  local root=$work/root
  mkdir -p "$root"
  link_firebird_root "$FB_HOME" "$root" firebird.conf databases.conf lock
  printf 'ServerMode = Super\n' >"$root/firebird.conf"
  : >"$root/databases.conf"
  mkdir -m 700 "$root/lock"
  echo "$root"
}

write_schema_sql() {
  local quoted=${tmp_db//\'/\'\'}
  cat <<EOF
SET NAMES UTF8;
SET SQL DIALECT 3;
CREATE DATABASE '$quoted' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;

CREATE TABLE KEY_WORDS (
  KEYWORD_NO INTEGER NOT NULL PRIMARY KEY,
  ID         INTEGER,
  KEY_WORD   VARCHAR(100),
  USER_NAME  VARCHAR(31),
  TS         TIMESTAMP
);

CREATE TABLE MEMO (
  INPUTNO   INTEGER NOT NULL PRIMARY KEY,
  TITLE     VARCHAR(100),
  MEMO      BLOB SUB_TYPE TEXT,
  USER_NAME VARCHAR(31),
  TS        TIMESTAMP
);
COMMIT;
EOF
  cat <<'EOF'

INSERT INTO MEMO VALUES (1, '会議の議事録', '本日の会議では、新しい文書管理システムの導入時期について話し合いました。', 'SYSDBA', TIMESTAMP '2024-04-01 09:30:00');
INSERT INTO MEMO VALUES (2, '接続設定の手順', '接続設定ファイルを開き、データベースのパスとユーザー名を確認してください。' || ASCII_CHAR(10) || '保存したあと、アプリケーションを再起動します。', 'TANAKA', TIMESTAMP '2024-04-02 14:05:10');
INSERT INTO MEMO VALUES (3, 'データベースの保守', '毎週金曜日の夕方にバックアップを取得し、結果を記録します。', 'SUZUKI', TIMESTAMP '2024-04-03 17:45:00');
INSERT INTO MEMO VALUES (4, '検索機能の要望', 'キーワードの部分一致で検索できるようにしてほしいという要望がありました。', NULL, TIMESTAMP '2024-04-05 11:00:00');
INSERT INTO MEMO VALUES (5, '来週の予定', '月曜日：打ち合わせ' || ASCII_CHAR(10) || '水曜日：資料作成' || ASCII_CHAR(10) || '金曜日：報告会', 'SYSDBA', NULL);
INSERT INTO MEMO VALUES (6, '空のメモ', NULL, 'TANAKA', TIMESTAMP '2024-04-08 08:15:00');
INSERT INTO MEMO VALUES (7, '障害報告', 'サーバーに接続できない現象が発生しました。ネットワーク設定を見直したところ解消しました。', 'SUZUKI', TIMESTAMP '2024-04-09 16:20:30');
INSERT INTO MEMO VALUES (8, 'バックアップ手順', '一、サービスを停止する。' || ASCII_CHAR(10) || '二、ファイルを複製する。' || ASCII_CHAR(10) || '三、サービスを再開する。', 'SYSDBA', TIMESTAMP '2024-04-10 10:00:00');
INSERT INTO MEMO VALUES (10, '新人向けの説明', '画面上部の検索欄にキーワードを入力すると、該当する文書が一覧に表示されます。', 'TANAKA', TIMESTAMP '2024-04-12 13:30:00');
INSERT INTO MEMO VALUES (11, 'お知らせ', '来月から文書の保存先が変わります。詳しくは管理者にお問い合わせください。', 'SUZUKI', TIMESTAMP '2024-04-15 09:00:00');
INSERT INTO MEMO VALUES (12, '用語集', 'データベース：情報を整理して保存する仕組み。' || ASCII_CHAR(10) || '検索：条件に合う情報を探すこと。', 'SYSDBA', TIMESTAMP '2024-04-16 15:45:00');

SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE TEXT_BODY VARCHAR(8000) CHARACTER SET UTF8;
  DECLARE I INTEGER = 1;
BEGIN
  TEXT_BODY = '';
  WHILE (I <= 120) DO
  BEGIN
    TEXT_BODY = TEXT_BODY || I || '行目：長い文章がデータベースに正しく保存され、そのまま読み出せるかを確かめるための文です。' || ASCII_CHAR(10);
    I = I + 1;
  END
  INSERT INTO MEMO VALUES (9, '長文のメモ', :TEXT_BODY, 'SYSDBA', TIMESTAMP '2024-04-11 18:00:00');
END^
SET TERM ; ^

INSERT INTO KEY_WORDS VALUES (1, 3, 'データベース', 'SYSDBA', TIMESTAMP '2024-04-03 17:50:00');
INSERT INTO KEY_WORDS VALUES (2, 4, '検索', 'SYSDBA', TIMESTAMP '2024-04-05 11:05:00');
INSERT INTO KEY_WORDS VALUES (3, 2, '接続', 'TANAKA', TIMESTAMP '2024-04-02 14:10:00');
INSERT INTO KEY_WORDS VALUES (4, 1, '会議', 'SYSDBA', TIMESTAMP '2024-04-01 09:35:00');
INSERT INTO KEY_WORDS VALUES (5, 8, 'バックアップ', 'SUZUKI', TIMESTAMP '2024-04-10 10:05:00');
INSERT INTO KEY_WORDS VALUES (6, 7, '障害', NULL, TIMESTAMP '2024-04-09 16:25:00');
INSERT INTO KEY_WORDS VALUES (7, 5, '予定', 'SYSDBA', NULL);
INSERT INTO KEY_WORDS VALUES (8, 10, '操作説明', 'TANAKA', TIMESTAMP '2024-04-12 13:35:00');
INSERT INTO KEY_WORDS VALUES (9, 11, 'お知らせ', 'SUZUKI', TIMESTAMP '2024-04-15 09:05:00');
INSERT INTO KEY_WORDS VALUES (10, 12, '用語', 'SYSDBA', TIMESTAMP '2024-04-16 15:50:00');
INSERT INTO KEY_WORDS VALUES (11, 9, '長文', 'SYSDBA', TIMESTAMP '2024-04-11 18:05:00');
INSERT INTO KEY_WORDS VALUES (12, NULL, '未分類', 'TANAKA', TIMESTAMP '2024-04-17 12:00:00');
COMMIT;
EOF
}

# Reads facts back from the new database; one "NAME value" line each.
write_check_sql() {
  cat <<'EOF'
SET NAMES UTF8;
SET LIST ON;
SELECT
  (SELECT COUNT(*) FROM KEY_WORDS) AS KEY_WORDS_ROWS,
  (SELECT COUNT(*) FROM MEMO) AS MEMO_ROWS,
  (SELECT MAX(CHAR_LENGTH(MEMO)) FROM MEMO) AS LONGEST_MEMO_CHARS,
  (SELECT CHAR_LENGTH(KEY_WORD) FROM KEY_WORDS WHERE KEYWORD_NO = 1) AS KEYWORD_1_CHARS,
  (SELECT OCTET_LENGTH(KEY_WORD) FROM KEY_WORDS WHERE KEYWORD_NO = 1) AS KEYWORD_1_BYTES,
  (SELECT COUNT(*) FROM KEY_WORDS WHERE KEY_WORD = 'データベース') AS KEYWORD_1_MATCHES,
  (SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE) AS CHARSET,
  (SELECT MON$PAGE_SIZE FROM MON$DATABASE) AS PAGE_SIZE,
  (SELECT MON$SQL_DIALECT FROM MON$DATABASE) AS DIALECT
FROM RDB$DATABASE;
EOF
}

check_value() {
  local name=$1 op=$2 want=$3 got
  got=$(awk -v n="$name" '$1 == n { print $2 }' "$work/check.out")
  [ -n "$got" ] || die "check $name: no value read back"
  case $op in
    eq) [ "$got" = "$want" ] ;;
    gt) [ "$got" -gt "$want" ] ;;
  esac || die "check $name: got $got, expected $op $want"
}

# Checks what building the database needs, before anything is written.
preflight() {
  [ ! -e "$db" ] || return 0
  command -v isql-fb >/dev/null || die "isql-fb not found (package firebird3.0-utils)"
}

seed_database() {
  local root
  if [ -e "$db" ]; then
    echo "seed-demo: database exists, left alone: $db"
    return 0
  fi
  mkdir -p "${db%/*}"
  root=$(make_root)
  tmp_db=$(mktemp -u "${db%/*}/.document.fdb.seeding.XXXXXX")

  write_schema_sql >"$work/schema.sql"
  if ! FIREBIRD=$root FIREBIRD_LOCK=$root/lock isql-fb -q -bail -ch UTF8 -user SYSDBA \
    -i "$work/schema.sql" \
    >"$work/schema.out" 2>&1; then
    cat "$work/schema.out" >&2
    die "creating the database failed"
  fi

  write_check_sql >"$work/check.sql"
  if ! FIREBIRD=$root FIREBIRD_LOCK=$root/lock isql-fb -q -bail -ch UTF8 -user SYSDBA \
    -i "$work/check.sql" "$tmp_db" \
    >"$work/check.out" 2>&1; then
    cat "$work/check.out" >&2
    die "reading the new database back failed"
  fi
  check_value KEY_WORDS_ROWS eq 12
  check_value MEMO_ROWS eq 12
  check_value LONGEST_MEMO_CHARS gt "$LONG_MEMO_MIN_CHARS"
  check_value KEYWORD_1_CHARS eq 6
  check_value KEYWORD_1_BYTES eq 18
  check_value KEYWORD_1_MATCHES eq 1
  check_value CHARSET eq UTF8
  check_value PAGE_SIZE eq 8192
  check_value DIALECT eq 3

  if install_new "$tmp_db" "$db"; then
    echo "seed-demo: database created: $db"
  else
    echo "seed-demo: database exists, left alone: $db"
  fi
  tmp_db=""
}

preflight
mkdir -p "$drives" || die "cannot create the drive folder $drives"
seed_profile
seed_database
echo "seed-demo: drive folder: $drives"
echo "seed-demo: profile:      $ini"
echo "seed-demo: database:     $db"
