#!/usr/bin/env bash
# The library under the locales a host may choose: the locale tests with none
# skipped, and the end-to-end suite (both backends) under a decimal-comma
# UTF-8 locale and under Latin-1; the suite takes its locale from LC_ALL
# (tests/e2e/HostLocale.cpp). localedef builds them from the sources of the
# locales package. Needs the default build (scripts/test.sh) and
# TESSEL_PG_URI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg-query -W -f='${Status}' locales 2>/dev/null | grep -q "install ok installed"; then
  echo "locales: installing locales" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq locales >/dev/null
fi
for charmap in UTF-8 ISO-8859-1; do
  # localedef may exit non-zero over mere warnings: the check below decides.
  $SUDO localedef -i de_DE -f "$charmap" "de_DE.$charmap" || true
  if [ "$(LC_ALL="de_DE.$charmap" locale charmap 2>/dev/null)" != "$charmap" ]; then
    echo "locales: the locale de_DE.$charmap could not be made" >&2
    exit 1
  fi
done

# The locale tests of the default suite skip on a machine without the locales
# package, as this one may have been for the runs before; now they must run.
echo "locales: locale tests, none skipped"
TESSEL_REQUIRE_LOCALES=1 "$root/build/default/tests/locale/tessel_locale_tests" --gtest_brief=1
TESSEL_REQUIRE_LOCALES=1 "$root/build/default/tests/data/text/tessel_data_text_tests" --gtest_brief=1 \
  --gtest_filter='*Locale*'

for name in de_DE.UTF-8 de_DE.ISO-8859-1; do
  echo "locales: end-to-end suite (SQLite, PostgreSQL, ODBC) under LC_ALL=$name"
  LC_ALL="$name" "$root/build/default/tests/e2e/tessel_e2e_tests" --gtest_brief=1
done
