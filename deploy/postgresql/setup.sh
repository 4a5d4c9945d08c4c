#!/usr/bin/env bash
# Prepares a PostgreSQL server for a pair of zdbd instances: the role zdbd (its password read
# from standard input, never from the command line), the database zdbd that it owns, and the
# lines of pg_hba.conf that let the two zdbd machines in over scram-sha-256. Run as root on the
# PostgreSQL machine:
#
#   deploy/postgresql/setup.sh 192.0.2.11 192.0.2.12 <<<'the password'
#
# It changes nothing that exists already, prints what it did, and reloads PostgreSQL.
set -euo pipefail
(($# >= 1)) || { sed -n 2,9p "$0" >&2; exit 2; }
IFS= read -r password
[[ -n $password ]] || { echo "setup.sh: give the password of the role zdbd on standard input" >&2; exit 2; }

# PGHOST and PGPORT, when set, name another cluster than the default one.
psql_as_postgres() { runuser -u postgres -- psql -qAt -v ON_ERROR_STOP=1 "$@"; }

# The role may make the role that runs scripts with rights on the data tables only, and the
# schemas of the ZDB databases; it is no superuser.
if [[ $(psql_as_postgres -c "SELECT 1 FROM pg_roles WHERE rolname = 'zdbd'") != 1 ]]; then
  # Through the environment, so that the password shows in no process list.
  ZDBD_PASSWORD=$password psql_as_postgres <<'SQL'
\getenv pw ZDBD_PASSWORD
CREATE ROLE zdbd LOGIN CREATEDB CREATEROLE PASSWORD :'pw';
SQL
  echo "role zdbd created"
fi
if [[ $(psql_as_postgres -c "SELECT 1 FROM pg_database WHERE datname = 'zdbd'") != 1 ]]; then
  psql_as_postgres -c "CREATE DATABASE zdbd OWNER zdbd ENCODING 'UTF8' TEMPLATE template0"
  echo "database zdbd created"
fi

hba=$(psql_as_postgres -c 'SHOW hba_file')
for address in "$@"; do
  line="host zdbd zdbd $address/32 scram-sha-256"
  grep -qxF "$line" "$hba" || { echo "$line" >>"$hba"; echo "pg_hba.conf: $line"; }
done
# Each instance holds a few connections for its locks and lease and one per running request.
echo "check in postgresql.conf: listen_addresses covers this machine's address for the zdbd"
echo "machines, and max_connections leaves room for 2 x (--max-connections + 6)"
psql_as_postgres -c 'SELECT pg_reload_conf()' >/dev/null
echo "PostgreSQL reloaded"
