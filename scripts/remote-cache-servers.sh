# Throwaway storages for the compile cache's remote storage: redis-server
# and nginx (PUT through its DAV module) as the calling user, on 127.0.0.1
# with free ports, with their configuration, pid, log and data files in a
# folder of the caller's. Never the system services the packages start.
# Sourced by the remote cache test and bench/remote_cache.sh:
#   source scripts/remote-cache-servers.sh
#   start_redis FOLDER [PASSWORD]   sets REDIS_PORT
#   start_nginx FOLDER [PASSWORD]   sets HTTP_PORT; /cache/ takes PUT, /ro/
#                                   serves the same files read-only, /moved/
#                                   redirects to /cache/, /auth/ takes PUT
#                                   from the user "vrx" with PASSWORD
#   stop_remote_servers             stops every server these started
REMOTE_SERVER_PIDS=()

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until a pid file holds a live process and the port answers.
wait_for_server() {  # pid file, port
    local i
    for i in $(seq 100); do
        if [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null &&
           (exec 3<>"/dev/tcp/127.0.0.1/$2") 2>/dev/null; then
            REMOTE_SERVER_PIDS+=("$(cat "$1")")
            return 0
        fi
        sleep 0.05
    done
    echo "a server did not start on port $2" >&2
    return 1
}

start_redis() {
    local folder=$1 password=${2:-}
    mkdir -p "$folder"
    REDIS_PORT=$(free_port)
    redis-server --bind 127.0.0.1 --port "$REDIS_PORT" --daemonize yes \
        --pidfile "$folder/redis.pid" --logfile "$folder/redis.log" --dir "$folder" \
        --save '' --appendonly no ${password:+--requirepass "$password"}
    wait_for_server "$folder/redis.pid" "$REDIS_PORT"
}

start_nginx() {
    local folder=$1 password=${2:-} user_line=""
    mkdir -p "$folder/files/cache" "$folder/files/auth" "$folder/temp"
    (umask 077 && echo "vrx:{PLAIN}$password" >"$folder/htpasswd")
    HTTP_PORT=$(free_port)
    # A master started as root hands its workers to 'nobody' unless told.
    [ "$(id -u)" = 0 ] && user_line="user root;"
    cat >"$folder/nginx.conf" <<CONF
$user_line
daemon on;
worker_processes 1;
pid $folder/nginx.pid;
error_log $folder/error.log;
events { worker_connections 64; }
http {
    access_log $folder/access.log;
    client_body_temp_path $folder/temp/body;
    proxy_temp_path $folder/temp/proxy;
    fastcgi_temp_path $folder/temp/fastcgi;
    uwsgi_temp_path $folder/temp/uwsgi;
    scgi_temp_path $folder/temp/scgi;
    client_max_body_size 300m;
    server {
        listen 127.0.0.1:$HTTP_PORT;
        root $folder/files;
        location /cache/ { dav_methods PUT; create_full_put_path on; }
        location /ro/ { alias $folder/files/cache/; limit_except GET { deny all; } }
        location /moved/ { return 301 /cache/; }
        location /auth/ {
            dav_methods PUT;
            auth_basic "cache";
            auth_basic_user_file $folder/htpasswd;
        }
    }
}
CONF
    nginx -p "$folder" -e "$folder/error.log" -c "$folder/nginx.conf"
    wait_for_server "$folder/nginx.pid" "$HTTP_PORT"
}

stop_remote_servers() {
    local pid
    for pid in "${REMOTE_SERVER_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    REMOTE_SERVER_PIDS=()
}
