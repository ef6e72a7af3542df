# Sourced by tests and benches: start_nginx DIR starts nginx on a free loopback
# port serving DIR/www, with /old redirecting to /file.bin; sets NGINX_PORT.
# stop_nginx ends it.
start_nginx() {
  local dir="$1"
  NGINX_DIR="$dir"
  NGINX_PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
  mkdir -p "$dir/www" "$dir/tmp"
  # nginx started by root serves as an unprivileged user: let it in.
  chmod a+rx "$(dirname "$dir")" "$dir" "$dir/www"
  cat > "$dir/nginx.conf" <<CONF
daemon on;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $dir/www;
    location = /old { return 302 /file.bin; }
  }
}
CONF
  nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/error.log" 2>/dev/null || return 1
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$NGINX_PORT/" && return 0
    sleep 0.1
  done
  return 1
}

stop_nginx() {
  [ -f "$NGINX_DIR/nginx.pid" ] && kill "$(cat "$NGINX_DIR/nginx.pid")" 2>/dev/null
  return 0
}
