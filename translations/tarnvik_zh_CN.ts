<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Tarnvik</name>
    <message>
        <source>Keep this IP reachable</source>
        <translation>确保到指定IP地址畅通</translation>
    </message>
    <message>
        <source>Keep host reachable</source>
        <translation>确保到指定域名畅通</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态指示</translation>
    </message>
    <message>
        <source>Green: up, red: fault</source>
        <translation>绿色代表畅通，红色代表故障</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始运行</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止运行</translation>
    </message>
    <message>
        <source>Switch to host name</source>
        <translation>切换 - &gt; 确保到指定域名畅通</translation>
    </message>
    <message>
        <source>Switch to IP address</source>
        <translation>切换 - &gt; 确保到指定IP畅通</translation>
    </message>
    <message>
        <source>&amp;Convert to IP</source>
        <translation>转换WWW地址到IP(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Ping</source>
        <translation>&amp;Ping</translation>
    </message>
    <message>
        <source>Repair</source>
        <translation>修复</translation>
    </message>
    <message>
        <source>Probe outcomes</source>
        <translation>探测结果</translation>
    </message>
    <message>
        <source>not monitoring</source>
        <translation>未在监视</translation>
    </message>
    <message>
        <source>monitoring %1</source>
        <translation>正在监视 %1</translation>
    </message>
    <message>
        <source>stopped; last: %1</source>
        <translation>已停止；最后的状态：%1</translation>
    </message>
    <message>
        <source>%1 answers</source>
        <translation>%1 有应答</translation>
    </message>
    <message>
        <source>%1 does not answer</source>
        <translation>%1 无应答</translation>
    </message>
    <message>
        <source>%1 does not answer; its next hop %2 kept its address: not an ARP attack</source>
        <translation>%1 无应答；其下一跳 %2 的地址未变：不是ARP攻击</translation>
    </message>
    <message>
        <source>%1 does not answer; its next hop %2 has no link-layer address now</source>
        <translation>%1 无应答；其下一跳 %2 当前没有硬件地址</translation>
    </message>
    <message>
        <source>ARP attack: %1 changed from %2 to %3</source>
        <translation>ARP攻击：%1 的硬件地址从 %2 变为 %3</translation>
    </message>
    <message>
        <source>ARP attack: %1 changed from %2 to %3, held by %4</source>
        <translation>ARP攻击：%1 的硬件地址从 %2 变为 %3，该地址属于 %4</translation>
    </message>
    <message>
        <source>next hop %1 replaced: %2 is taken as genuine from now on</source>
        <translation>下一跳 %1 已更换：此后以 %2 为真实地址</translation>
    </message>
    <message>
        <source>ARP attack: holding %1 at %2</source>
        <translation>ARP攻击：已将 %1 固定为 %2</translation>
    </message>
    <message>
        <source>released the hold of %1</source>
        <translation>已解除对 %1 的固定</translation>
    </message>
    <message>
        <source>nothing to probe: the address box is empty</source>
        <translation>没有探测目标：地址框是空的</translation>
    </message>
    <message>
        <source>cannot resolve %1 to an IPv4 address</source>
        <translation>无法将 %1 解析为IPv4地址</translation>
    </message>
    <message>
        <source>not an IPv4 address, nothing probed: %1</source>
        <translation>不是IPv4地址，未发送探测：%1</translation>
    </message>
    <message>
        <source>not yet probed</source>
        <translation>尚未探测</translation>
    </message>
    <message>
        <source>green: %1</source>
        <translation>绿色：%1</translation>
    </message>
    <message>
        <source>red: %1</source>
        <translation>红色：%1</translation>
    </message>
    <message>
        <source>Tarnvik cannot do all of its job here</source>
        <translation>Tarnvik 在此无法完成全部工作</translation>
    </message>
    <message>
        <source>cannot open an ICMP socket, so every probe will fail: let your group use ping sockets (sysctl -w net.ipv4.ping_group_range=&quot;0 2147483647&quot;), or run the program as root</source>
        <translation>无法打开ICMP套接字，所有探测都会失败：请允许您的组使用ping套接字（sysctl -w net.ipv4.ping_group_range=&quot;0 2147483647&quot;），或以root身份运行本程序</translation>
    </message>
    <message>
        <source>no %1; repairs start &apos;ip -4 neigh flush all&apos;, which needs root</source>
        <translation>缺少 %1；修复时运行 &apos;ip -4 neigh flush all&apos;，这需要root权限</translation>
    </message>
    <message>
        <source>%1 lacks cap_net_admin, so repairs cannot flush the ARP cache: setcap cap_net_admin+ep %1</source>
        <translation>%1 缺少 cap_net_admin，修复无法清空ARP缓存：setcap cap_net_admin+ep %1</translation>
    </message>
    <message>
        <source>cannot ask the next hop&apos;s known address directly nor tell it our address during an attack (%1 is missing or lacks cap_net_raw), so a changed address is taken as a move only after the old one has stayed away for %2 s and the other direction is not defended; as root: setcap cap_net_raw+ep %1</source>
        <translation>无法直接询问下一跳的已知地址，也无法在攻击期间告知其本机地址（%1 缺失或缺少 cap_net_raw），因此地址变化只有在旧地址消失 %2 秒后才被视为更换，反方向也得不到保护；以root身份运行：setcap cap_net_raw+ep %1</translation>
    </message>
    <message>
        <source>--guard: the hold helper %1 is missing, so nothing will be held; install the tarnvik package, or build tarnvik-hold beside tarnvik</source>
        <translation>--guard：固定助手 %1 缺失，不会固定任何地址；请安装 tarnvik 软件包，或在 tarnvik 旁构建 tarnvik-hold</translation>
    </message>
    <message>
        <source>--guard: only root and the group tarnvik may run %1, so nothing will be held; as root: adduser %2 tarnvik (it takes effect at the next login)</source>
        <translation>--guard：只有root和tarnvik组可以运行 %1，不会固定任何地址；以root身份运行：adduser %2 tarnvik（下次登录后生效）</translation>
    </message>
    <message>
        <source>--guard: %1 lacks cap_net_admin, so nothing will be held; as root: setcap cap_net_admin+ep %1</source>
        <translation>--guard：%1 缺少 cap_net_admin，不会固定任何地址；以root身份运行：setcap cap_net_admin+ep %1</translation>
    </message>
    <message>
        <source>repairs start &apos;arp -d&apos;, which needs an elevated process, so they cannot flush the ARP cache: start tarnvik.exe with &apos;Run as administrator&apos;</source>
        <translation>修复时运行 &apos;arp -d&apos;，这需要提升的权限，因此无法清空ARP缓存：请用“以管理员身份运行”启动 tarnvik.exe</translation>
    </message>
    <message>
        <source>--guard: arp -s needs an elevated Tarnvik, so nothing will be held; start it with Run as administrator</source>
        <translation>--guard：arp -s 需要以提升的权限运行 Tarnvik，不会固定任何地址；请用“以管理员身份运行”启动</translation>
    </message>
    <message>
        <source>the target</source>
        <translation>目标</translation>
    </message>
    <message>
        <source>ARP attack on %1</source>
        <translation>%1 遭到ARP攻击</translation>
    </message>
    <message>
        <source>The link-layer address of %1 changed from %2 to %3.</source>
        <translation>%1 的硬件地址从 %2 变为 %3。</translation>
    </message>
    <message>
        <source>The link-layer address of %1 changed from %2 to %3, held by %4.</source>
        <translation>%1 的硬件地址从 %2 变为 %3，该地址属于 %4。</translation>
    </message>
    <message>
        <source>Next hop of %1 replaced</source>
        <translation>%1 的下一跳已更换</translation>
    </message>
    <message>
        <source>The link-layer address of %1 changed from %2 to %3 and the old one is gone; the new one is taken as genuine.</source>
        <translation>%1 的硬件地址从 %2 变为 %3，旧地址已消失；新地址此后被视为真实地址。</translation>
    </message>
    <message>
        <source>It stopped answering; its next hop %1 keeps its address %2.</source>
        <translation>它不再应答；其下一跳 %1 仍保持地址 %2。</translation>
    </message>
    <message>
        <source>It stopped answering, and its next hop %1 has no link-layer address now.</source>
        <translation>它不再应答，其下一跳 %1 当前没有硬件地址。</translation>
    </message>
    <message>
        <source>It stopped answering.</source>
        <translation>它不再应答。</translation>
    </message>
    <message>
        <source>%1 answers again</source>
        <translation>%1 恢复应答</translation>
    </message>
    <message>
        <source>Echo requests are answered again.</source>
        <translation>回显请求重新得到应答。</translation>
    </message>
    <message>
        <source>Defending %1 both ways</source>
        <translation>正在双向保护 %1</translation>
    </message>
    <message>
        <source>told %1 our address %2 while the attack goes on</source>
        <translation>攻击持续期间已告知 %1 本机地址 %2</translation>
    </message>
    <message>
        <source>Tarnvik: monitoring</source>
        <translation>Tarnvik：正在监视</translation>
    </message>
    <message>
        <source>Tarnvik: green, the target answers</source>
        <translation>Tarnvik：绿色，目标有应答</translation>
    </message>
    <message>
        <source>Tarnvik: red, the target does not answer</source>
        <translation>Tarnvik：红色，目标无应答</translation>
    </message>
    <message>
        <source>IPv6 attack on this computer&apos;s routers</source>
        <translation>本机的 IPv6 路由器遭受攻击</translation>
    </message>
    <message>
        <source>IPv6 attack: router %1 changed from %2 to %3</source>
        <translation>IPv6 攻击：路由器 %1 的地址从 %2 变为 %3</translation>
    </message>
    <message>
        <source>IPv6 router %1 replaced: %2 is taken as genuine from now on</source>
        <translation>IPv6 路由器 %1 已更换：此后以 %2 为真实地址</translation>
    </message>
    <message>
        <source>This computer&apos;s IPv6 router replaced</source>
        <translation>本机的 IPv6 路由器已更换</translation>
    </message>
    <message>
        <source>IPv6 attack: new default router %1 at %2</source>
        <translation>IPv6 攻击：新的默认路由器 %1，地址 %2</translation>
    </message>
    <message>
        <source>IPv6 attack: router %1 changed from %2 to %3, and its default route was lost with it</source>
        <translation>IPv6 攻击：路由器 %1 的地址从 %2 变为 %3，其默认路由也随之丢失</translation>
    </message>
    <message>
        <source>Flood of IPv6 router advertisements</source>
        <translation>IPv6 路由器通告泛洪</translation>
    </message>
    <message>
        <source>More than %1 IPv6 default routers (the latest %2): those beyond are not watched</source>
        <translation>IPv6 默认路由器超过 %1 个（最新的是 %2）：超出的不再监视</translation>
    </message>
    <message>
        <source>IPv6 router %1 left by itself (its default route went): no attack</source>
        <translation>IPv6 路由器 %1 自行离开（其默认路由已消失）：不是攻击</translation>
    </message>
    <message>
        <source>setting ignored: %1</source>
        <translation>已忽略的设置：%1</translation>
    </message>
</context>
</TS>
