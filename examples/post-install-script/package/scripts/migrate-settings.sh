#!/bin/sh
# Post-install step of version 3.0: the settings key "colour" became "color".
# Usage: migrate-settings.sh SETTINGS-FILE VERSION
set -e
settings="$1"
version="$2"
echo "Migrating $settings"
sed 's/^colour =/color =/' "$settings" > "$settings.new"
echo "settings-version = $version" >> "$settings.new"
mv "$settings.new" "$settings"
echo "Settings migrated to version $version"
