# Sourced: the archive and security mirrors this machine's apt uses, so that a throwaway root is
# fetched from where the machine fetches. Sets $debian_mirror and (when there is one)
# $security_mirror, and prints nothing.
debian_mirror="" security_mirror=""
for sources in /etc/apt/sources.list.d/*.sources; do
    [ -f "$sources" ] || continue
    while read -r key value _; do
        [ "$key" = "URIs:" ] || continue
        case "$value" in
            *security*) [ -n "$security_mirror" ] || security_mirror=$value ;;
            *) [ -n "$debian_mirror" ] || debian_mirror=$value ;;
        esac
    done <"$sources"
done
if [ -z "$debian_mirror" ] && [ -f /etc/apt/sources.list ]; then
    debian_mirror=$(awk '$1 == "deb" && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list)
    security_mirror=$(awk '$1 == "deb" && $2 ~ /security/ { print $2; exit }' /etc/apt/sources.list)
fi
# mirror_lines SUITE: the lines for mmdebstrap.
mirror_lines() {
    printf '%s\n' "deb $debian_mirror $1 main" "deb $debian_mirror $1-updates main"
    [ -z "$security_mirror" ] || printf '%s\n' "deb $security_mirror $1-security main"
}
