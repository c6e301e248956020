#include "contactgenerator.h"

#include "contactstore.h"
#include "sqliteconnection.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>
#include <numeric>
#include <vector>

namespace ContactGenerator {

namespace {

// splitmix64: tiny, fast and the same everywhere, unlike the standard distributions.
// Two draws in one expression would be taken in an unspecified order: draw in statements.
class Rng
{
public:
    explicit Rng(quint64 seed) : m_state(seed) {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool percent(int p) { return below(100) < p; }
    const QString &pick(const QStringList &list) { return list.at(below(int(list.size()))); }

    // '#' becomes a digit, 'A' an upper-case letter, anything else stays.
    QString fill(const QString &pattern)
    {
        QString out = pattern;
        for (QChar &ch : out) {
            if (ch == QLatin1Char('#'))
                ch = QLatin1Char(char('0' + below(10)));
            else if (ch == QLatin1Char('A'))
                ch = QLatin1Char(char('A' + below(26)));
        }
        return out;
    }

private:
    quint64 m_state;
};

QStringList words(const char *utf8)
{
    return QString::fromUtf8(utf8).split(QLatin1Char(' '));
}
QStringList lines(const char *utf8)
{
    return QString::fromUtf8(utf8).split(QLatin1Char('\n'));
}

struct ChineseTown
{
    QString name;
    QString area; // long-distance prefix
    QString zip;  // pattern
    QStringList districts;
};

struct LatinPlace
{
    QString town;
    QString phone; // patterns
    QString mobile;
    QString zip;
    QString street; // "%n" house number, "%s" street name
    QStringList streets;
};

struct Tables
{
    QStringList cnFamily, cnFamilyPinyin, cnGiven, cnGivenPinyin;
    QStringList pinyinFamily, latinGiven, latinFamily;
    std::vector<ChineseTown> cnTowns;
    std::vector<LatinPlace> latinPlaces;
    QStringList cnRoads, cnMobilePrefixes, domains;
    QStringList noteLines, cnCompanyHead, cnCompanyTrade, latinCompanyHead, latinCompanyTrade;
    QStringList cnJobs, latinJobs, months;

    Tables();
};

Tables::Tables()
{
    cnFamily = words(
        "王 李 张 刘 陈 杨 黄 赵 吴 周 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 宋 唐 许 韩 冯 "
        "邓 曹 彭 曾 肖 田 董 袁 潘 于 蒋 蔡 余 杜 叶 程 苏 魏 吕 丁 任 沈 姚 卢 姜 崔 钟 谭 陆 "
        "汪 范 金 石 廖 贾 夏 韦 付 方 白 邹 孟 熊 秦 邱 江 尹 薛 闫 段 雷 侯 龙 史 陶 黎 贺 顾 "
        "毛 郝 龚 邵 万 钱 严 覃 武 戴 莫 孔 向 汤 欧阳 司马 上官 诸葛 东方 慕容 令狐 皇甫");
    cnFamilyPinyin = words(
        "wang li zhang liu chen yang huang zhao wu zhou xu sun ma zhu hu guo he gao lin luo "
        "zheng liang xie song tang xu han feng deng cao peng zeng xiao tian dong yuan pan yu "
        "jiang cai yu du ye cheng su wei lv ding ren shen yao lu jiang cui zhong tan lu wang fan "
        "jin shi liao jia xia wei fu fang bai zou meng xiong qin qiu jiang yin xue yan duan lei "
        "hou long shi tao li he gu mao hao gong shao wan qian yan qin wu dai mo kong xiang tang "
        "ouyang sima shangguan zhuge dongfang murong linghu huangfu");
    cnGiven = words(
        "伟 芳 娜 敏 静 丽 强 磊 军 洋 勇 艳 杰 娟 涛 明 超 秀 霞 平 刚 桂 英 华 玉 兰 萍 红 鹏 "
        "辉 建 文 斌 宇 浩 凯 健 俊 帆 帅 旭 宁 龙 林 欣 晨 阳 雪 琳 晓 婷 倩 颖 佳 慧 莉 思 梦 "
        "涵 怡 嘉 子 轩 博 睿 泽 瑞 一 诗 雨 璐 悦 晶 琪 婉 昊 天 志 国 海 波 亮 飞 鑫 鸿 新 春 "
        "秋 月 光 荣 德 成 云 峰 中 立 兴 东 振 宏 毅 坤 彬 哲 伦 瀚 然 欢 馨 蕾 薇 菲 露 岚 蓉 "
        "燕 玲 珊 洁 贤 淑 惠 珍 凤 梅 琴 松 柏 安 乐");
    cnGivenPinyin = words(
        "wei fang na min jing li qiang lei jun yang yong yan jie juan tao ming chao xiu xia ping "
        "gang gui ying hua yu lan ping hong peng hui jian wen bin yu hao kai jian jun fan shuai "
        "xu ning long lin xin chen yang xue lin xiao ting qian ying jia hui li si meng han yi jia "
        "zi xuan bo rui ze rui yi shi yu lu yue jing qi wan hao tian zhi guo hai bo liang fei xin "
        "hong xin chun qiu yue guang rong de cheng yun feng zhong li xing dong zhen hong yi kun "
        "bin zhe lun han ran huan xin lei wei fei lu lan rong yan ling shan jie xian shu hui zhen "
        "feng mei qin song bai an le");
    pinyinFamily = words(
        "Wang Li Zhang Liu Chen Yang Huang Zhao Wu Zhou Xu Sun Ma Zhu Hu Guo He Gao Lin Luo "
        "Zheng Liang Xie Song Tang Han Feng Deng Cao Peng Zeng Xiao Tian Dong Yuan Pan Yu Jiang "
        "Cai Du Ye Cheng Su Wei Lu Ding Ren Shen Yao Cui Zhong Tan Fan Jin Shi Liao Jia Xia Fang "
        "Bai Zou Meng Xiong Qin Qiu Yin Xue Yan Duan Lei Hou Long Tao Gu Mao Hao Gong Shao Qian "
        "Dai Mo Kong Chan Wong Leung Cheung Lau Ng Ho Tse Yip Kwok Lam Tsang Chow Lee Lim Goh Teo "
        "Ong Koh");
    latinGiven = words(
        "James John Robert Michael William David Richard Joseph Thomas Charles Christopher Daniel "
        "Matthew Anthony Mark Donald Steven Paul Andrew Joshua Kenneth Kevin Brian George Timothy "
        "Ronald Edward Jason Jeffrey Ryan Jacob Gary Nicholas Eric Jonathan Stephen Larry Justin "
        "Scott Brandon Benjamin Samuel Gregory Alexander Patrick Frank Raymond Jack Dennis Jerry "
        "Tyler Aaron Henry Peter Adam Nathan Zachary Walter Kyle Harold Carl Arthur Lawrence Jesse "
        "Dylan Bryan Joe Jordan Billy Bruce Albert Willie Gabriel Logan Alan Juan Wayne Roy Ralph "
        "Randy Eugene Vincent Russell Elijah Louis Bobby Philip Johnny Mary Patricia Jennifer "
        "Linda Elizabeth Barbara Susan Jessica Sarah Karen Lisa Nancy Betty Margaret Sandra Ashley "
        "Kimberly Emily Donna Michelle Carol Amanda Dorothy Melissa Deborah Stephanie Rebecca "
        "Sharon Laura Cynthia Kathleen Amy Angela Shirley Anna Brenda Pamela Emma Nicole Helen "
        "Samantha Katherine Christine Debra Rachel Carolyn Janet Catherine Maria Heather Diane "
        "Ruth "
        "Julie Olivia Joyce Virginia Victoria Kelly Lauren Christina Joan Evelyn Judith Megan "
        "Andrea Cheryl Hannah Jacqueline Martha Gloria Teresa Ann Sara Madison Frances Kathryn "
        "Janice Jean Abigail Alice Julia Judy Sophia Grace Denise Amber Doris Marilyn Danielle "
        "Beverly Isabella Theresa Diana Natalie Charlotte Marie Kayla Alexis José Zoë Renée Søren "
        "Chloé Björn François Jürgen Lucía Jörg Åsa Małgorzata Zoltán Inês Matteo Giulia Luca "
        "Pierre Léa Hélène Siobhán Niamh Seán Ingrid Lars Sven Anouk Pieter Dmitri Olga");
    latinFamily = words(
        "Smith Johnson Williams Brown Jones Miller Davis Wilson Anderson Taylor Thomas Moore "
        "Martin "
        "Jackson Thompson White Harris Clark Lewis Robinson Walker Young Allen King Wright Scott "
        "Hill Green Adams Baker Nelson Carter Mitchell Roberts Turner Phillips Campbell Parker "
        "Evans Edwards Collins Stewart Morris Murphy Cook Rogers Morgan Cooper Peterson Reed "
        "Bailey "
        "Bell Kelly Howard Ward Cox Richardson Wood Watson Brooks Bennett Gray Hughes Price "
        "Sanders Myers Foster Powell Jenkins Perry Russell Sullivan Fisher Henderson Coleman "
        "Simmons Patterson Jordan Reynolds Hamilton Graham Wallace Cole West Stone Hayes Gibson "
        "Ellis Murray Ford Marshall Owens Harrison Fernández García Martínez Rodríguez López "
        "González Pérez Sánchez Müller Schmidt Schneider Fischer Weber Meyer Wagner Becker Schäfer "
        "Koch Richter Klein Wolf Schröder Neumann Dubois Lefèvre Moreau Laurent Girard Bonnet "
        "Rousseau Rossi Russo Ferrari Esposito Bianchi Romano Colombo Ricci Conti Visser Bakker "
        "Janssen Smit Mulder Nowak Kowalski Wiśniewski Dvořák Novák Svoboda Nagy Kovács Andersson "
        "Johansson Karlsson Nilsson Eriksson Hansen Jensen Nielsen Østergaard Virtanen Korhonen "
        "O'Brien O'Connor D'Angelo McDonald MacLeod Smith-Jones Ivanov Petrov Popescu "
        "Papadopoulos Yılmaz Silva Santos Oliveira Pereira Costa");

    const auto town = [](const char *name, const char *area, const char *zip,
                         const char *districts) {
        return ChineseTown{QString::fromUtf8(name), QString::fromLatin1(area),
                           QString::fromLatin1(zip), words(districts)};
    };
    cnTowns = {
        town("北京", "010", "100###", "朝阳区 海淀区 东城区 西城区 丰台区"),
        town("上海", "021", "200###", "浦东新区 徐汇区 静安区 黄浦区 长宁区"),
        town("广州", "020", "510###", "天河区 越秀区 海珠区 白云区"),
        town("深圳", "0755", "518###", "南山区 福田区 罗湖区 宝安区"),
        town("成都", "028", "610###", "武侯区 锦江区 青羊区 成华区"),
        town("杭州", "0571", "310###", "西湖区 上城区 拱墅区 滨江区"),
        town("南京", "025", "210###", "鼓楼区 玄武区 秦淮区 建邺区"),
        town("武汉", "027", "430###", "江汉区 武昌区 洪山区 汉阳区"),
        town("西安", "029", "710###", "雁塔区 碑林区 莲湖区 未央区"),
        town("重庆", "023", "400###", "渝中区 江北区 南岸区 沙坪坝区"),
        town("天津", "022", "300###", "和平区 河西区 南开区 河东区"),
        town("苏州", "0512", "215###", "姑苏区 吴中区 工业园区"),
        town("长沙", "0731", "410###", "岳麓区 芙蓉区 天心区 开福区"),
        town("郑州", "0371", "450###", "金水区 二七区 中原区 管城区"),
        town("青岛", "0532", "266###", "市南区 市北区 崂山区 黄岛区"),
        town("厦门", "0592", "361###", "思明区 湖里区 集美区"),
        town("昆明", "0871", "650###", "五华区 盘龙区 官渡区 西山区"),
        town("哈尔滨", "0451", "150###", "南岗区 道里区 香坊区"),
        town("沈阳", "024", "110###", "和平区 沈河区 皇姑区 铁西区"),
        town("大连", "0411", "116###", "中山区 西岗区 沙河口区 甘井子区"),
    };
    cnRoads = words("建国路 中山路 人民路 解放路 长安街 南京路 淮海路 和平路 文化路 科技路 学院路 "
                    "滨江大道 东风路 新华街 青年路 胜利街 光明路 朝阳路 幸福路 金融街 花园路");
    cnMobilePrefixes = words("130 131 132 133 135 136 137 138 139 150 151 152 155 156 157 158 "
                             "159 166 176 177 180 181 182 183 185 186 187 188 189 198 199");

    const auto place = [](const char *town, const char *phone, const char *mobile, const char *zip,
                          const char *street, const char *streets) {
        return LatinPlace{QString::fromUtf8(town),     QString::fromLatin1(phone),
                          QString::fromLatin1(mobile), QString::fromLatin1(zip),
                          QString::fromUtf8(street),   QString::fromUtf8(streets).split('|')};
    };
    latinPlaces = {
        place("London", "+44 20 #### ####", "+44 7# #### ####", "AA# #AA", "%n %s",
              "Baker Street|Church Lane|High Street|Victoria Road|Kings Road"),
        place("Manchester", "+44 161 ### ####", "+44 77 #### ####", "M# #AA", "%n %s",
              "Oxford Road|Deansgate|Portland Street|Mill Lane"),
        place("Dublin", "+353 1 ### ####", "+353 87 ### ####", "D## A###", "%n %s",
              "Grafton Street|Dame Street|Harcourt Road|Merrion Square"),
        place("New York", "+1 (212) 555-####", "+1 (917) 555-####", "100##", "%n %s",
              "West 45th Street|Broadway|Madison Avenue|Park Place"),
        place("San Francisco", "+1 (415) 555-####", "+1 (628) 555-####", "941##", "%n %s",
              "Market Street|Valencia Street|Geary Boulevard|Mission Street"),
        place("Toronto", "+1 (416) 555-####", "+1 (647) 555-####", "M#A #A#", "%n %s",
              "Queen Street West|Yonge Street|Spadina Avenue|King Street East"),
        place("Vancouver", "+1 (604) 555-####", "+1 (778) 555-####", "V#A #A#", "%n %s",
              "Granville Street|Robson Street|Main Street|Commercial Drive"),
        place("Sydney", "+61 2 #### ####", "+61 4 #### ####", "20##", "%n %s",
              "George Street|Pitt Street|Oxford Street|Crown Street"),
        place("Paris", "+33 1 ## ## ## ##", "+33 6 ## ## ## ##", "750##", "%n, %s",
              "rue de Rivoli|avenue des Ternes|boulevard Voltaire|rue Oberkampf"),
        place("Lyon", "+33 4 ## ## ## ##", "+33 7 ## ## ## ##", "690##", "%n, %s",
              "rue de la République|cours Lafayette|quai Saint-Antoine"),
        place("Berlin", "+49 30 #######", "+49 151 ########", "10###", "%s %n",
              "Friedrichstraße|Kastanienallee|Torstraße|Karl-Marx-Allee"),
        place("München", "+49 89 #######", "+49 171 #######", "80###", "%s %n",
              "Leopoldstraße|Sendlinger Straße|Maximilianstraße"),
        place("Zürich", "+41 44 ### ## ##", "+41 79 ### ## ##", "80##", "%s %n",
              "Bahnhofstrasse|Langstrasse|Seefeldstrasse"),
        place("Wien", "+43 1 ### ## ##", "+43 664 #######", "10##", "%s %n",
              "Mariahilfer Straße|Praterstraße|Landstraßer Hauptstraße"),
        place("Madrid", "+34 91 ### ## ##", "+34 6 #### ####", "280##", "%s, %n",
              "Calle Mayor|Calle de Alcalá|Paseo de la Castellana|Gran Vía"),
        place("Barcelona", "+34 93 ### ## ##", "+34 6 #### ####", "080##", "%s, %n",
              "Carrer de Balmes|Passeig de Gràcia|Carrer de Mallorca"),
        place("Roma", "+39 06 #### ####", "+39 3## ### ####", "001##", "%s %n",
              "Via del Corso|Via Nazionale|Via Appia Nuova"),
        place("Milano", "+39 02 #### ####", "+39 3## ### ####", "201##", "%s %n",
              "Via Torino|Corso Buenos Aires|Via Dante"),
        place("Amsterdam", "+31 20 ### ####", "+31 6 #### ####", "10## AA", "%s %n",
              "Prinsengracht|Keizersgracht|Damrak|Overtoom"),
        place("Stockholm", "+46 8 ### ### ##", "+46 70 ### ## ##", "1## ##", "%s %n",
              "Drottninggatan|Götgatan|Sveavägen"),
        place("København", "+45 ## ## ## ##", "+45 ## ## ## ##", "1###", "%s %n",
              "Strøget|Nørrebrogade|Vesterbrogade"),
        place("Warszawa", "+48 22 ### ## ##", "+48 5## ### ###", "00-###", "%s %n",
              "ul. Marszałkowska|ul. Nowy Świat|al. Jerozolimskie"),
        place("Hong Kong", "+852 #### ####", "+852 #### ####", "", "Flat 9A, %n %s",
              "Nathan Road|Des Voeux Road Central|Hennessy Road|Queen's Road East"),
        place("Singapore", "+65 6### ####", "+65 #### ####", "######", "%n %s",
              "Orchard Road|Bukit Timah Road|Serangoon Road"),
        place("Taipei", "+886 2 #### ####", "+886 9## ### ###", "1##", "%s %n",
              "Zhongshan N. Rd., Sec. 2|Xinyi Rd., Sec. 5|Dunhua S. Rd., Sec. 1"),
    };

    domains = words("example.com example.cn example.net example.org mail.example.com "
                    "corp.example.cn example.com.cn post.example.org");
    noteLines = lines("上次见面：%d 行业交流会。\n"
                      "喜欢喝乌龙茶，不喝咖啡。\n"
                      "生日前一周提醒买礼物。\n"
                      "孩子在上海读大学。\n"
                      "地址已于 %d 更新。\n"
                      "周末不方便打电话，请发短信。\n"
                      "合作项目：仓储系统升级，预算待定。\n"
                      "对花生过敏！\n"
                      "介绍人：老同学 \"阿强\"。\n"
                      "报价单按 15% 折扣执行。\n"
                      "Met at the trade fair on %d.\n"
                      "Prefers e-mail over phone calls.\n"
                      "Call after 6 pm local time.\n"
                      "Has two children; the older one studies abroad.\n"
                      "Owes us the signed contract (ref. PO_2231).\n"
                      "Speaks English, French and a little Mandarin.\n"
                      "Margin 20% on bulk orders, net 30 days.\n"
                      "Don't call before 9:00 — night shifts.\n"
                      "O'Neill's cousin; see the wedding photos.\n"
                      "Vegetarian. Likes jazz and long walks.\n"
                      "user_id: %n\n"
                      "Moved office on %d.");
    cnCompanyHead = words("华信 中科 远航 新光 海天 东方 恒达 金桥 长城 银河 鼎盛 博远");
    cnCompanyTrade = words("科技 贸易 传媒 物流 建筑 咨询 软件 电子 医药 教育");
    latinCompanyHead = words("Northwind Bluewater Summit Greenfield Atlas Redwood Silverline "
                             "Harbor Keystone Pioneer");
    latinCompanyTrade = lines("Traders\nConsulting\nLogistics\nSoftware Ltd.\nDesign GmbH\n"
                              "Holdings Inc.\nMedia S.A.\nEngineering B.V.");
    cnJobs = words("销售经理 软件工程师 财务总监 人事专员 项目经理 总经理 设计师 教师 医生 律师 "
                   "会计 采购主管");
    latinJobs = lines("Sales Manager\nSoftware Engineer\nAccountant\nTeacher\nProduct Designer\n"
                      "Nurse\nArchitect\nConsultant\nHead of Purchasing\nCEO");
    months = words("January February March April May June July August September October "
                   "November December");

    const bool listsPaired =
        cnFamily.size() == cnFamilyPinyin.size() && cnGiven.size() == cnGivenPinyin.size();
    // The pair spaces of each kind of contact must hold its share of UniquePairs (see make()).
    const qint64 share = UniquePairs / 20 + 1;
    const bool roomy = cnFamily.size() * cnGiven.size() >= 2 * share &&
                       cnFamily.size() * cnGiven.size() * cnGiven.size() >= 9 * share &&
                       pinyinFamily.size() * latinGiven.size() >= 2 * share &&
                       latinFamily.size() * latinGiven.size() >= 4 * share;
    if (!listsPaired || !roomy)
        qFatal("contact generator tables are inconsistent");
}

const Tables &tables()
{
    static const Tables t;
    return t;
}

enum class Kind { WholeChineseName, ChineseShort, ChineseLong, Pinyin, Latin, LatinDouble };

// index % 20 decides the kind; within a kind, an affine map with a prime factor larger than
// any pair space spreads consecutive indexes over the space without ever repeating a pair.
struct Slot
{
    Kind kind;
    quint64 rank; // position of the index among the indexes of its kind
};

Slot slotOf(quint32 index)
{
    struct Band
    {
        int first, width;
        Kind kind;
    };
    static constexpr Band bands[] = {{0, 1, Kind::WholeChineseName}, {1, 2, Kind::ChineseShort},
                                     {3, 9, Kind::ChineseLong},      {12, 2, Kind::Pinyin},
                                     {14, 4, Kind::Latin},           {18, 2, Kind::LatinDouble}};
    const int r = int(index % 20);
    for (const Band &b : bands) {
        if (r < b.first + b.width)
            return {b.kind, quint64(index / 20) * b.width + (r - b.first)};
    }
    Q_UNREACHABLE();
}

quint64 spread(quint64 rank, quint64 space)
{
    constexpr quint64 Prime = 2654435761ull; // larger than every space, so coprime with it
    return (Prime * rank + 12345) % space;
}

struct Names
{
    QString name, firstName;
    QString familyLatin, givenLatin; // for e-mail and web addresses
    bool chinese = true;
};

QString asciiFold(const QString &s)
{
    QString out;
    for (QChar ch : s.normalized(QString::NormalizationForm_KD)) {
        if (ch.isLetterOrNumber() && ch.unicode() < 128)
            out += ch.toLower();
        else if (ch.unicode() == 0x00F8 || ch.unicode() == 0x00D8) // ø, Ø
            out += QLatin1Char('o');
        else if (ch.unicode() == 0x0142) // ł
            out += QLatin1Char('l');
        else if (ch.unicode() == 0x0131) // dotless i
            out += QLatin1Char('i');
    }
    return out;
}

Names namesOf(quint32 index)
{
    const Tables &t = tables();
    const Slot slot = slotOf(index);
    const quint64 nFamCn = quint64(t.cnFamily.size());
    const quint64 nGivCn = quint64(t.cnGiven.size());
    const quint64 nLatGiv = quint64(t.latinGiven.size());
    Names n;
    switch (slot.kind) {
    case Kind::WholeChineseName:
    case Kind::ChineseLong: {
        const quint64 p = spread(slot.rank, nFamCn * nGivCn * nGivCn);
        const int fam = int(p % nFamCn), g1 = int(p / nFamCn % nGivCn),
                  g2 = int(p / nFamCn / nGivCn);
        const QString given = t.cnGiven[g1] + t.cnGiven[g2];
        n.familyLatin = t.cnFamilyPinyin[fam];
        n.givenLatin = t.cnGivenPinyin[g1] + t.cnGivenPinyin[g2];
        if (slot.kind == Kind::WholeChineseName) {
            n.name = t.cnFamily[fam] + given;
            n.firstName = QStringLiteral("");
        } else {
            n.name = t.cnFamily[fam];
            n.firstName = given;
        }
        break;
    }
    case Kind::ChineseShort: {
        const quint64 p = spread(slot.rank, nFamCn * nGivCn);
        const int fam = int(p % nFamCn), g = int(p / nFamCn);
        n.name = t.cnFamily[fam];
        n.firstName = t.cnGiven[g];
        n.familyLatin = t.cnFamilyPinyin[fam];
        n.givenLatin = t.cnGivenPinyin[g];
        break;
    }
    case Kind::Pinyin: {
        const quint64 nFam = quint64(t.pinyinFamily.size());
        const quint64 p = spread(slot.rank, nFam * nLatGiv);
        n.name = t.pinyinFamily[int(p % nFam)];
        n.firstName = t.latinGiven[int(p / nFam)];
        n.chinese = false;
        break;
    }
    case Kind::Latin:
    case Kind::LatinDouble: {
        const quint64 nFam = quint64(t.latinFamily.size());
        const bool twoParts = slot.kind == Kind::LatinDouble;
        const quint64 p = spread(slot.rank, nFam * nLatGiv * (twoParts ? nLatGiv : 1));
        n.name = t.latinFamily[int(p % nFam)];
        n.firstName = t.latinGiven[int(p / nFam % nLatGiv)];
        if (twoParts)
            n.firstName += QLatin1Char(' ') + t.latinGiven[int(p / nFam / nLatGiv)];
        n.chinese = false;
        break;
    }
    }
    if (!n.chinese) {
        n.familyLatin = asciiFold(n.name);
        n.givenLatin = asciiFold(n.firstName.section(QLatin1Char(' '), 0, 0));
    }
    return n;
}

QString date(Rng &rng)
{
    return QStringLiteral("%1-%2-%3")
        .arg(rng.between(1998, 2024))
        .arg(rng.between(1, 12), 2, 10, QLatin1Char('0'))
        .arg(rng.between(1, 28), 2, 10, QLatin1Char('0'));
}

QString chineseMobile(Rng &rng)
{
    const QString prefix = rng.pick(tables().cnMobilePrefixes);
    const QString a = rng.fill(QStringLiteral("####")), b = rng.fill(QStringLiteral("####"));
    switch (rng.below(4)) {
    case 0:
        return prefix + a + b;
    case 1:
        return prefix + QLatin1Char(' ') + a + QLatin1Char(' ') + b;
    case 2:
        return prefix + QLatin1Char('-') + a + QLatin1Char('-') + b;
    default:
        return QStringLiteral("+86 ") + prefix + QLatin1Char(' ') + a + QLatin1Char(' ') + b;
    }
}

QString chineseLandline(Rng &rng, const ChineseTown &town, bool extension)
{
    QString number = QString::number(rng.between(2, 8)); // local numbers never start with 0 or 1
    number += rng.fill(QStringLiteral("#######"));
    QString text;
    switch (rng.below(3)) {
    case 0:
        text = town.area + QLatin1Char('-') + number;
        break;
    case 1:
        text = QLatin1Char('(') + town.area + QStringLiteral(") ") + number.left(4) +
               QLatin1Char(' ') + number.mid(4);
        break;
    default:
        text = QStringLiteral("+86 ") + town.area.mid(1) + QLatin1Char(' ') + number;
        break;
    }
    if (extension && rng.percent(30))
        text += (rng.percent(50) ? QStringLiteral(" 转 ") : QStringLiteral(" ext. ")) +
                rng.fill(QStringLiteral("###"));
    return text;
}

QString email(Rng &rng, const Names &n)
{
    const Tables &t = tables();
    const QString given = n.givenLatin.isEmpty() ? QStringLiteral("info") : n.givenLatin;
    QString local;
    switch (rng.below(5)) {
    case 0:
        local = given + QLatin1Char('.') + n.familyLatin;
        break;
    case 1:
        local = n.familyLatin + given + rng.fill(QStringLiteral("##"));
        break;
    case 2:
        local = n.familyLatin + QLatin1Char('_') + given;
        break;
    case 3:
        local = given.left(1) + n.familyLatin;
        break;
    default:
        // QQ-style numbers of five to nine digits
        local = rng.fill(QStringLiteral("#########").left(rng.between(5, 9)));
        break;
    }
    return local + QLatin1Char('@') + rng.pick(t.domains);
}

QString web(Rng &rng, const Names &n)
{
    const QString who = n.familyLatin + n.givenLatin;
    switch (rng.below(5)) {
    case 0:
        return QStringLiteral("https://www.example.com/~") + n.familyLatin;
    case 1:
        return QStringLiteral("http://") + who + QStringLiteral(".example.cn");
    case 2:
        return QStringLiteral("https://blog.example.org/") + who + QLatin1Char('/');
    case 3:
        return QStringLiteral("www.example.net/people/") + who; // typed without a scheme
    default:
        return QString(); // most people have none
    }
}

QString notes(Rng &rng, quint32 index)
{
    const Tables &t = tables();
    if (rng.percent(30))
        return QStringLiteral("");
    const int count = rng.percent(5) ? rng.between(15, 40) : rng.between(1, 5);
    QStringList out;
    for (int i = 0; i < count; ++i) {
        QString line = rng.pick(t.noteLines);
        line.replace(QStringLiteral("%d"), date(rng));
        line.replace(QStringLiteral("%n"), QString::number(index * 7 + 1000));
        out << line;
        if (count > 5 && rng.percent(15))
            out << QString(); // a paragraph break
    }
    return out.join(QLatin1Char('\n'));
}

void addCustomPairs(Rng &rng, Contact &c, const Names &n)
{
    const Tables &t = tables();
    static const int weights[] = {40, 20, 15, 10, 7, 5, 3}; // chance of 0..6 pairs, in percent
    int roll = rng.below(100), count = 0;
    while (roll >= weights[count]) {
        roll -= weights[count];
        ++count;
    }
    enum { Im, Birthday, Company, Job, Fax, Spouse, Profile, OtherMail, Anniversary, Kinds };
    std::array<int, Kinds> kinds;
    std::iota(kinds.begin(), kinds.end(), 0);
    for (int i = 0; i < count; ++i) { // a partial shuffle: no label twice
        std::swap(kinds[i], kinds[i + rng.below(Kinds - i)]);
        const bool zh = n.chinese;
        QString label, value;
        switch (kinds[i]) {
        case Im:
            label = zh ? (rng.percent(50) ? QStringLiteral("QQ") : QStringLiteral("微信"))
                       : QStringLiteral("Skype");
            value = label == QLatin1String("QQ") ? rng.fill(QStringLiteral("########"))
                                                 : n.familyLatin + QLatin1Char('_') + n.givenLatin +
                                                       rng.fill(QStringLiteral("##"));
            break;
        case Birthday: {
            const int y = rng.between(1950, 2005), m = rng.between(1, 12), d = rng.between(1, 28);
            label = zh ? QStringLiteral("生日") : QStringLiteral("Birthday");
            value = zh ? QStringLiteral("%1年%2月%3日").arg(y).arg(m).arg(d)
                       : QStringLiteral("%1 %2 %3").arg(d).arg(t.months[m - 1]).arg(y);
            break;
        }
        case Company:
            label = zh ? QStringLiteral("公司") : QStringLiteral("Company");
            value = rng.pick(zh ? t.cnCompanyHead : t.latinCompanyHead);
            value += zh ? rng.pick(t.cnCompanyTrade) + QStringLiteral("有限公司")
                        : QLatin1Char(' ') + rng.pick(t.latinCompanyTrade);
            break;
        case Job:
            label = zh ? QStringLiteral("职位") : QStringLiteral("Job title");
            value = rng.pick(zh ? t.cnJobs : t.latinJobs);
            break;
        case Fax:
            label = zh ? QStringLiteral("传真") : QStringLiteral("Fax");
            value = zh ? chineseLandline(rng, t.cnTowns[rng.below(int(t.cnTowns.size()))], false)
                       : rng.fill(t.latinPlaces[rng.below(int(t.latinPlaces.size()))].phone);
            break;
        case Spouse:
            label = zh ? QStringLiteral("配偶") : QStringLiteral("Spouse");
            if (zh) {
                value = rng.pick(t.cnFamily);
                value += rng.pick(t.cnGiven);
                value += rng.pick(t.cnGiven);
            } else {
                value = rng.pick(t.latinGiven) + QLatin1Char(' ') + c.name;
            }
            break;
        case Profile:
            label = QStringLiteral("LinkedIn");
            value = QStringLiteral("https://www.example.com/in/") + n.givenLatin +
                    QLatin1Char('-') + n.familyLatin + QLatin1Char('-') +
                    rng.fill(QStringLiteral("####"));
            break;
        case OtherMail:
            label = zh ? QStringLiteral("备用邮箱") : QStringLiteral("Other e-mail");
            value = email(rng, n);
            break;
        case Anniversary:
            label = zh ? QStringLiteral("纪念日") : QStringLiteral("Anniversary");
            value = date(rng);
            break;
        }
        c.customLabel[i] = label;
        c.customValue[i] = value;
    }
    c.customCount = count;
}

} // namespace

Contact make(quint32 index)
{
    const Tables &t = tables();
    Rng rng(quint64(index) * 0x2545F4914F6CDD1Dull + 0x1234567ull);
    const Names n = namesOf(index);

    Contact c;
    c.name = n.name;
    c.firstName = n.firstName;
    // People with Chinese names mostly live in Chinese towns; some live abroad and vice versa.
    if (n.chinese ? !rng.percent(8) : rng.percent(10)) {
        const ChineseTown &town = t.cnTowns[rng.below(int(t.cnTowns.size()))];
        c.work = chineseLandline(rng, town, true);
        c.home = chineseLandline(rng, town, false);
        c.mobile = chineseMobile(rng);
        QString address = town.name + QStringLiteral("市") + rng.pick(town.districts);
        address += rng.pick(t.cnRoads);
        address += QString::number(rng.between(1, 399)) + QStringLiteral("号");
        if (rng.percent(60)) {
            const int building = rng.between(1, 20), unit = rng.between(1, 6),
                      floor = rng.between(1, 32), flat = rng.between(1, 8);
            address +=
                QStringLiteral("%1栋%2单元%3室").arg(building).arg(unit).arg(floor * 100 + flat);
        }
        c.address = address;
        c.zip = rng.fill(town.zip);
        c.town = town.name;
    } else {
        const LatinPlace &place = t.latinPlaces[rng.below(int(t.latinPlaces.size()))];
        c.work = rng.fill(place.phone);
        c.home = rng.fill(place.phone);
        c.mobile = rng.fill(place.mobile);
        QString street = place.street;
        street.replace(QStringLiteral("%n"), QString::number(rng.between(1, 250)));
        street.replace(QStringLiteral("%s"), rng.pick(place.streets));
        c.address = street;
        c.zip = rng.fill(place.zip);
        c.town = place.town;
    }
    c.email = email(rng, n);
    c.web = web(rng, n);
    c.notes = notes(rng, index);
    addCustomPairs(rng, c, n);
    c.normalise();
    return c;
}

bool writeDatabase(const QString &path, int count, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (count < 0)
        return fail(QStringLiteral("the number of contacts must not be negative"));
    tables(); // built before anything touches the disk
    if (QFileInfo::exists(path))
        return fail(QStringLiteral("%1 already exists").arg(path));
    QString why;
    if (!ContactStore::createDatabase(path, &why))
        return fail(QStringLiteral("cannot create %1: %2").arg(path, why));

    bool ok = false;
    {
        SqliteConnection connection(path, QStringLiteral("generator"));
        QSqlDatabase &db = connection.db();
        if (!connection.open()) {
            why = connection.lastError();
        } else {
            // One transaction: SQLite syncs once instead of once per row.
            ok = db.transaction();
            ContactStore store(db);
            for (int i = 0; ok && i < count; ++i) {
                if (!store.insert(make(quint32(i)))) {
                    why = store.lastError();
                    ok = false;
                }
            }
            if (ok && !db.commit()) {
                why = db.lastError().text();
                ok = false;
            }
            if (!ok) {
                if (why.isEmpty())
                    why = db.lastError().text();
                db.rollback();
            }
        }
    }
    if (!ok) {
        QFile::remove(path);
        return fail(QStringLiteral("cannot fill %1: %2").arg(path, why));
    }
    return true;
}

} // namespace ContactGenerator
